// The dialog's number text: any typed text, and any double a record may hold,
// through ParseNumberText and FormatNumberText.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "ui/NumberText.h"

namespace {

// Formats with guard bytes after the 32 bytes the text may take.
std::string Format(double value) {
  char buffer[kNumberTextSize + 16];
  std::memset(buffer, 0x5A, sizeof buffer);
  FormatNumberText(value, buffer);
  for (size_t i = kNumberTextSize; i < sizeof buffer; ++i) {
    FUZZ_CHECK(uint8_t(buffer[i]) == 0x5A, "formatting %.17g wrote byte %zu", value, i);
  }
  FUZZ_CHECK(std::memchr(buffer, 0, kNumberTextSize) != nullptr, "no terminator for %.17g", value);
  return buffer;
}

// Parses a copy of exactly the text's size, so that a read past its end is seen.
bool Parse(const std::string& text, double* value) {
  std::vector<char> exact(text.c_str(), text.c_str() + text.size() + 1);
  *value = -1.0;
  const bool ok = ParseNumberText(exact.data(), value);
  FUZZ_CHECK(std::isfinite(*value), "\"%s\" read as %g", text.c_str(), *value);
  if (!ok) FUZZ_CHECK(*value == 0.0, "\"%s\" refused but left %g", text.c_str(), *value);
  if (ok) {
    FUZZ_CHECK(double(float(*value)) == *value, "\"%s\" read %.17g, not a single-precision value",
               text.c_str(), *value);
  }
  return ok;
}

// Any double formatted, read back and formatted again.
void CheckRoundTrip(double value) {
  const std::string first = Format(value);
  double read = 0.0;
  const bool ok = Parse(first, &read);
  if (!std::isfinite(value)) {
    FUZZ_CHECK(!ok, "the text \"%s\" of a non-finite value was accepted", first.c_str());
    return;
  }
  FUZZ_CHECK(ok, "\"%s\" (from %.17g) was refused", first.c_str(), value);
  // Four decimals, or five significant digits in the exponent form, then single
  // precision; beyond its range the largest single-precision value.
  const double within = value > FLT_MAX ? FLT_MAX : (value < -FLT_MAX ? -FLT_MAX : value);
  const double tolerance = 0.0000501 + std::fabs(within) * 5.1e-5;
  FUZZ_CHECK(std::fabs(read - within) <= tolerance, "%.17g -> \"%s\" -> %.17g", value,
             first.c_str(), read);
  // Once read, a value's text is stable: what the dialog shows reads back to itself.
  const std::string second = Format(read);
  double again = 0.0;
  FUZZ_CHECK(Parse(second, &again), "\"%s\" was refused", second.c_str());
  FUZZ_CHECK(Format(again) == second, "\"%s\" -> %.17g -> \"%s\"", second.c_str(), again,
             Format(again).c_str());
  if (double(float(value)) == value) {
    FUZZ_CHECK(second == first, "%.17g -> \"%s\" -> \"%s\"", value, first.c_str(), second.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input as typed text (up to its first zero, as an edit hands it over).
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  double value = 0.0;
  const bool ok = Parse(text, &value);
  // Only the first 31 characters count.
  if (text.size() > size_t(kNumberTextSize - 1)) {
    double cut = 0.0;
    const bool cutOk = Parse(text.substr(0, kNumberTextSize - 1), &cut);
    FUZZ_CHECK(cutOk == ok && cut == value, "\"%s\" reads otherwise than its first 31 characters",
               text.c_str());
  }
  if (ok) CheckRoundTrip(value);
  // The first 8 bytes as a double: a record from elsewhere may hold any.
  if (size >= sizeof(double)) {
    double any;
    std::memcpy(&any, data, sizeof any);
    CheckRoundTrip(any);
  }
  return 0;
}
