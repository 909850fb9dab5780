#include "render/SoftMarks.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "render/MemBlock.h"
#include "render/Numerics.h"
#include "render/PixelBlock.h"
#include "render/Samples16.h"

namespace {

const int32_t kFirstCapacity = 1024;

inline uint32_t PackCell(int32_t x, int32_t y) { return (uint32_t(y) << 16) | uint32_t(x); }
inline int32_t CellX(uint32_t cell) { return int32_t(cell & 0xFFFFu); }
inline int32_t CellY(uint32_t cell) { return int32_t(cell >> 16); }

bool PictureRow(const SoftCanvas& c, int32_t y) {
  const int64_t source = int64_t(y) + c.jitterOffset;
  return source >= 0 && source < c.height;
}

// The channel moved `cover` (0..1) of the way to the colour, rounded.
inline void Blend(const SoftCanvas& c, uint8_t* p, double cover) {
  if (cover > 1.0) cover = 1.0;
  if (c.sixteenBits) {
    for (int k = 0; k < 3; ++k) {
      uint8_t* q = p + 2 * (kRed + k);
      const double v = double(ClampSample(LoadSample(q)));
      StoreSample(q, ClampSample(TruncToInt(v + cover * (double(c.color16[k]) - v) + 0.5)));
    }
    return;
  }
  for (int k = 0; k < 3; ++k) {
    const double v = double(p[kRed + k]);
    p[kRed + k] = ClampChannel(TruncToInt(v + cover * (double(c.color[k]) - v) + 0.5));
  }
}

// Without memory for the soft edges: each cell fills the pixels whose top-left
// corner it holds (at least one), in the colour outright.
void LayHard(const SoftCanvas& c, const uint32_t* cells, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const int32_t cx = CellX(cells[i]), cy = CellY(cells[i]);
    const int32_t x0 = TruncToInt(std::ceil(double(cx) * c.layout.unitX));
    const int32_t y0 = TruncToInt(std::ceil(double(cy) * c.layout.unitY));
    int32_t x1 = TruncToInt(std::ceil(double(cx + 1) * c.layout.unitX));
    int32_t y1 = TruncToInt(std::ceil(double(cy + 1) * c.layout.unitY));
    if (x1 <= x0) x1 = x0 + 1;
    if (y1 <= y0) y1 = y0 + 1;
    for (int32_t y = y0; y < y1 && y < c.height; ++y) {
      if (!PictureRow(c, y)) continue;
      for (int32_t x = x0; x < x1 && x < c.width; ++x) {
        Blend(c, c.dstData + std::ptrdiff_t(y) * c.dstRowBytes + std::ptrdiff_t(x) * c.pixelBytes, 1.0);
      }
    }
  }
}

// One picture row: every kept cell of the grid rows its tent reaches, summed
// into `cover` (width values, all 0 before and after), then blended.
void LayRow(const SoftCanvas& c, const uint32_t* cells, int32_t count, int32_t y, double* cover) {
  const double unitX = c.layout.unitX, unitY = c.layout.unitY;
  const double centre = double(y) + 0.5;
  int32_t rowLow = TruncToInt(std::floor((centre - 1.0) / unitY));
  int32_t rowHigh = TruncToInt(std::floor((centre + 1.0) / unitY));
  if (rowLow < 0) rowLow = 0;
  if (rowHigh > c.layout.height - 1) rowHigh = c.layout.height - 1;
  int32_t low = c.width, high = -1;
  for (int32_t r = rowLow; r <= rowHigh; ++r) {
    const double down = TentCover(double(r) * unitY, double(r + 1) * unitY, centre);
    if (!(down > 0.0)) continue;
    const uint32_t* first = std::lower_bound(cells, cells + count, PackCell(0, r));
    const uint32_t* end = std::lower_bound(first, cells + count, PackCell(0, r + 1));
    for (const uint32_t* cell = first; cell < end; ++cell) {
      const int32_t cx = CellX(*cell);
      const PixelSpan span = CellPixels(cx, unitX, c.width);
      const double a = double(cx) * unitX, b = a + unitX;
      for (int32_t x = span.first; x < span.end; ++x) {
        cover[x] += down * TentCover(a, b, double(x) + 0.5);
      }
      if (span.first < low) low = span.first;
      if (span.end - 1 > high) high = span.end - 1;
    }
  }
  const bool picture = PictureRow(c, y);
  uint8_t* row = c.dstData + std::ptrdiff_t(y) * c.dstRowBytes;
  for (int32_t x = low; x <= high; ++x) {
    if (picture && cover[x] > 0.0) Blend(c, row + std::ptrdiff_t(x) * c.pixelBytes, cover[x]);
    cover[x] = 0.0;
  }
}

void Lay(const SoftCanvas& c, uint32_t* cells, int32_t count) {
  if (count <= 0) return;
  std::sort(cells, cells + count);
  count = int32_t(std::unique(cells, cells + count) - cells);
  const int64_t bytes = int64_t(sizeof(double)) * (c.width > 0 ? c.width : 1);
  double* cover = static_cast<double*>(NewMemBlock(int32_t(bytes)));  // zero-filled
  if (cover == nullptr) {
    LayHard(c, cells, count);
    return;
  }
  // The picture rows each kept grid row reaches, each row once, top down.
  int32_t next = 0;
  for (int32_t i = 0; i < count;) {
    const int32_t r = CellY(cells[i]);
    const PixelSpan rows = CellPixels(r, c.layout.unitY, c.height);
    for (int32_t y = rows.first > next ? rows.first : next; y < rows.end; ++y) {
      LayRow(c, cells, count, y, cover);
    }
    if (rows.end > next) next = rows.end;
    while (i < count && CellY(cells[i]) == r) ++i;
  }
  FreeMemBlock(cover);
}

}  // namespace

void AddMarkCell(const SoftCanvas& canvas, MarkCells* marks, int32_t x, int32_t y) {
  if (marks->count == marks->capacity) {
    const int64_t capacity = marks->capacity > 0 ? int64_t(marks->capacity) * 2 : kFirstCapacity;
    const int64_t bytes = capacity * int64_t(sizeof(uint32_t));
    uint32_t* grown = bytes <= INT32_MAX ? static_cast<uint32_t*>(NewMemBlock(int32_t(bytes))) : nullptr;
    if (grown == nullptr) {
      const uint32_t cell = PackCell(x, y);
      Lay(canvas, marks->cells, marks->count);
      marks->count = 0;
      if (marks->capacity == 0) {
        LayHard(canvas, &cell, 1);
        return;
      }
    } else {
      if (marks->count > 0) std::memcpy(grown, marks->cells, sizeof(uint32_t) * size_t(marks->count));
      FreeMemBlock(marks->cells);
      marks->cells = grown;
      marks->capacity = int32_t(capacity);
    }
  }
  marks->cells[marks->count++] = PackCell(x, y);
}

void LayMarkCells(const SoftCanvas& canvas, MarkCells* marks) {
  Lay(canvas, marks->cells, marks->count);
  FreeMemBlock(marks->cells);
  marks->cells = nullptr;
  marks->count = 0;
  marks->capacity = 0;
}
