// Conversions that stay defined for every double a record may hold.
#pragma once

#include <cmath>
#include <cstdint>

// Truncates toward zero like a C cast, but defined everywhere: NaN gives 0 and
// values beyond the int32 range give the nearest bound. Every double-to-integer
// conversion of the renderer goes through here (a negative tone exponent makes
// pow(0, e) infinite, and a record from elsewhere may hold anything).
inline int32_t TruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// The same into 16 bits, for the walkers' 16-bit lengths and counts.
inline int16_t TruncToInt16(double v) {
  int32_t i = TruncToInt(v);
  if (i > INT16_MAX) return INT16_MAX;
  if (i < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(i);
}

// A remainder that treats a modulus of 0 as "no range": the draw has been taken
// by the caller, and its remainder counts as 0 instead of dividing by zero.
inline int32_t ModOrZero(int32_t value, int32_t modulus) {
  return modulus > 0 ? value % modulus : 0;
}

// Stores a channel value: below 0 gives 0, 255 or more gives 255.
inline uint8_t ClampChannel(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}
