// Pictures for the fuzz targets that render: rows with padding, guard bytes
// before and after, every byte with a value of its own so that any change shows;
// and the replay budget that keeps one input within milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/EffectParams.h"
#include "render/Numerics.h"
#include "tests/fuzz/FuzzCheck.h"

const int32_t kGuard = 32;

struct Picture {
  std::vector<uint8_t> bytes;  // guard, rows, guard
  int32_t rowBytes;
  uint8_t* Pixels() { return bytes.data() + kGuard; }
  const uint8_t* Pixels() const { return bytes.data() + kGuard; }
};

inline Picture MakePicture(int32_t rowBytes, int32_t height, uint32_t seed) {
  Picture p;
  p.rowBytes = rowBytes;
  p.bytes.resize(size_t(kGuard) * 2 + size_t(rowBytes) * size_t(height));
  uint32_t x = seed | 1;
  for (uint8_t& byte : p.bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = uint8_t(x >> 24);
  }
  return p;
}

// Checks that nothing outside the pixels of `after` changed (guards and row
// padding), and that alpha bytes (4 bytes a pixel) hold `alphaFrom`'s, which is
// the picture before the render, or the source when it was copied in.
inline void CheckOnlyPixelsChanged(const Picture& after, const Picture& before, int32_t width,
                                   int32_t height, int32_t bytesPerPixel,
                                   const Picture& alphaFrom) {
  const int32_t pixelBytes = width * bytesPerPixel;
  for (size_t i = 0; i < after.bytes.size(); ++i) {
    const ptrdiff_t offset = ptrdiff_t(i) - kGuard;
    const bool inRows = offset >= 0 && offset < ptrdiff_t(after.rowBytes) * height;
    const int32_t row = inRows ? int32_t(offset / after.rowBytes) : -1;
    const int32_t column = inRows ? int32_t(offset % after.rowBytes) : -1;
    if (!inRows || column >= pixelBytes) {
      FUZZ_CHECK(after.bytes[i] == before.bytes[i], "byte %d outside the picture changed",
                 int(offset));
    } else if (bytesPerPixel == 4 && column % 4 == 3) {
      const uint8_t want = alphaFrom.Pixels()[ptrdiff_t(row) * alphaFrom.rowBytes + column];
      FUZZ_CHECK(after.bytes[i] == want, "alpha of pixel (%d, %d) is %d, not %d", column / 4, row,
                 after.bytes[i], want);
    }
  }
}

// The scratch replay costs scratch count x frame steps, the same code whatever
// the product; a record's count beyond the dialog's 100 (up to 32767) would make
// each input take seconds. Every count up to 200 is replayed to any frame up to
// 10000; a larger count gets its frames folded into this many steps.
const int64_t kReplayBudget = 2000000;

inline int32_t WithinReplayBudget(int32_t frame, const EffectParams& params) {
  int64_t count = TruncToInt(params.value[kScratchAmount] + 0.5);
  if (count > 32767) count = 32767;
  if (count <= 0 || count * frame <= kReplayBudget) return frame;
  return int32_t(frame % (kReplayBudget / count + 1));
}
