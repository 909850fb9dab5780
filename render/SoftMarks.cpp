#include "render/SoftMarks.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "render/MemBlock.h"
#include "render/Numerics.h"
#include "render/PixelBlock.h"
#include "render/RenderJob.h"
#include "render/RenderThreads.h"
#include "render/Samples16.h"

namespace {

const int32_t kFirstCapacity = 1024;
// The stamps a pass lays: 16 times what the dialog's largest settings make (78
// specks of up to 103 steps, 52 hairs of up to 110). Only a record from
// elsewhere with thousands of long walks plots more; its walkers still walk and
// draw, but plots past this many are not laid, so that laying them (up to a few
// hundred pixels each at the largest factors) costs no more than the picture.
const int32_t kMostStamps = 1 << 17;
// The most memory the stamps' columns take (at the largest factors, or past
// the most stamps the dialog's settings make, each row computes them instead).
const int32_t kMostColumnBytes = 32 << 20;
int32_t gMostColumnBytes = kMostColumnBytes;

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
      const double v = double(LoadClampedSample(q));
      StoreSample(q, ClampSample(TruncToInt(v + cover * (double(c.color16[k]) - v) + 0.5)));
    }
    return;
  }
  for (int k = 0; k < 3; ++k) {
    const double v = double(p[kRed + k]);
    p[kRed + k] = ClampChannel(TruncToInt(v + cover * (double(c.color[k]) - v) + 0.5));
  }
}

// A stamp's span in picture units along one axis: the cell-wide square centred
// on the position.
inline double SpanStart(float at, double unit) { return (double(at) - 0.5) * unit; }

// Without memory for the soft edges: each stamp fills the pixel under its
// centre and those its square holds, in the colour outright.
void LayHard(const SoftCanvas& c, const MarkStamp* stamps, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const double ax = SpanStart(stamps[i].x, c.layout.unitX), ay = SpanStart(stamps[i].y, c.layout.unitY);
    int32_t x0 = TruncToInt(std::ceil(ax)), y0 = TruncToInt(std::ceil(ay));
    int32_t x1 = TruncToInt(std::ceil(ax + c.layout.unitX)), y1 = TruncToInt(std::ceil(ay + c.layout.unitY));
    if (x1 <= x0) x1 = x0 + 1;
    if (y1 <= y0) y1 = y0 + 1;
    for (int32_t y = y0 < 0 ? 0 : y0; y < y1 && y < c.height; ++y) {
      if (!PictureRow(c, y)) continue;
      for (int32_t x = x0 < 0 ? 0 : x0; x < x1 && x < c.width; ++x) {
        Blend(c, c.dstData + std::ptrdiff_t(y) * c.dstRowBytes + std::ptrdiff_t(x) * c.pixelBytes, 1.0);
      }
    }
  }
}

// The first stamp whose y is at least `y` (stamps sorted by y).
const MarkStamp* FirstAtOrBelow(const MarkStamp* begin, const MarkStamp* end, double y) {
  return std::lower_bound(begin, end, y, [](const MarkStamp& s, double v) { return double(s.y) < v; });
}

// What each stamp's square covers of the columns it reaches, the same in every
// row: from `columns[i]` (x0, x1: its first and past-the-last column in the
// picture) `span` values each, or none (null: each row computes them).
struct StampColumns {
  const int32_t* columns;
  const double* across;
  int32_t span;
};

// A stamp's columns: those within a pixel of its square, in the picture.
inline void ColumnsOf(const SoftCanvas& c, double ax, int32_t* x0, int32_t* x1) {
  *x0 = TruncToInt(std::floor(ax - 1.5));
  *x1 = TruncToInt(std::ceil(ax + c.layout.unitX + 0.5));
  if (*x0 < 0) *x0 = 0;
  if (*x1 > c.width) *x1 = c.width;
}

// One picture row: the most any stamp within reach covers of each pixel
// (`cover`: width values, all 0 before and after), then blended.
void LayRow(const SoftCanvas& c, const MarkStamp* stamps, int32_t count, int32_t y, double* cover,
            const StampColumns& made) {
  const double unitX = c.layout.unitX, unitY = c.layout.unitY;
  const double centre = double(y) + 0.5;
  // A stamp reaches this row when its square, [(sy - 1/2) u, (sy + 1/2) u), comes
  // within a pixel of the row's centre.
  const MarkStamp* first = FirstAtOrBelow(stamps, stamps + count, (centre - 1.0) / unitY - 0.5);
  const MarkStamp* end = FirstAtOrBelow(first, stamps + count, (centre + 1.0) / unitY + 0.5);
  int32_t low = c.width, high = -1;
  for (const MarkStamp* s = first; s < end; ++s) {
    const double ay = SpanStart(s->y, unitY);
    const double down = TentCover(ay, ay + unitY, centre);
    if (!(down > 0.0)) continue;
    const double ax = SpanStart(s->x, unitX);
    int32_t x0, x1;
    if (made.across != nullptr) {
      const std::ptrdiff_t i = s - stamps;
      x0 = made.columns[2 * i];
      x1 = made.columns[2 * i + 1];
      const double* across = made.across + i * made.span - x0;
      for (int32_t x = x0; x < x1; ++x) {
        const double v = down * across[x];
        if (v > cover[x]) cover[x] = v;
      }
    } else {
      ColumnsOf(c, ax, &x0, &x1);
      for (int32_t x = x0; x < x1; ++x) {
        const double v = down * TentCover(ax, ax + unitX, double(x) + 0.5);
        if (v > cover[x]) cover[x] = v;
      }
    }
    if (x0 < low) low = x0;
    if (x1 - 1 > high) high = x1 - 1;
  }
  const bool picture = PictureRow(c, y);
  uint8_t* row = c.dstData + std::ptrdiff_t(y) * c.dstRowBytes;
  for (int32_t x = low; x <= high; ++x) {
    if (picture && cover[x] > 0.0) Blend(c, row + std::ptrdiff_t(x) * c.pixelBytes, cover[x]);
    cover[x] = 0.0;
  }
}

// The rows the stamps reach, each laid by the thread that takes it into its
// slot's cover row: a row reads only the stamps and writes only its own pixels,
// so any number of threads lays the same bytes.
class LayRows final : public BandedRows {
 public:
  LayRows(const SoftCanvas& c, const MarkStamp* stamps, int32_t count, const int32_t* rows,
          double* covers, const StampColumns& made)
      : c_(c), stamps_(stamps), count_(count), rows_(rows), covers_(covers), made_(made) {}

  Rng BandStart(int32_t) const override { return Rng{0}; }
  void Row(int32_t i, int32_t slot, Rng&) const override {
    LayRow(c_, stamps_, count_, rows_[i], covers_ + std::ptrdiff_t(slot) * c_.width, made_);
  }

 private:
  const SoftCanvas& c_;
  const MarkStamp* stamps_;
  int32_t count_;
  const int32_t* rows_;
  double* covers_;
  const StampColumns& made_;
};

void Lay(const SoftCanvas& c, MarkStamp* stamps, int32_t count) {
  if (count <= 0 || c.width <= 0 || c.height <= 0) return;
  std::sort(stamps, stamps + count, [](const MarkStamp& a, const MarkStamp& b) {
    return a.y < b.y || (a.y == b.y && a.x < b.x);
  });
  // A cover row for each thread's slot, the rows reached, in bands; without
  // memory for them, one cover row and the rows in turn.
  const int32_t slots = RunnerSlots(c.threads);
  double* cover = nullptr;
  int32_t* rows = nullptr;
  if (slots > 1 && int64_t(slots) * c.width * int64_t(sizeof(double)) <= INT32_MAX) {
    cover = static_cast<double*>(NewMemBlock(int32_t(sizeof(double)) * slots * c.width));
    rows = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * c.height));
  }
  if (cover == nullptr || rows == nullptr) {
    FreeMemBlock(cover);
    FreeMemBlock(rows);
    rows = nullptr;
    cover = static_cast<double*>(NewMemBlock(int32_t(sizeof(double)) * c.width));  // zero-filled
  }
  if (cover == nullptr) {
    LayHard(c, stamps, count);
    return;
  }
  // Each stamp's columns made once, where there is memory for them (a stamp
  // reaches at most ceil(unitX) + 4 columns); otherwise each row makes them.
  StampColumns made = {nullptr, nullptr, 0};
  const double spanColumns = std::ceil(c.layout.unitX) + 4.0;
  int32_t* columns = nullptr;
  double* across = nullptr;
  if (spanColumns * double(count) * double(sizeof(double)) <= double(gMostColumnBytes)) {
    made.span = TruncToInt(spanColumns);
    columns = static_cast<int32_t*>(NewMemBlock(int32_t(sizeof(int32_t)) * 2 * count));
    across = static_cast<double*>(NewMemBlock(int32_t(sizeof(double)) * made.span * count));
  }
  if (columns != nullptr && across != nullptr) {
    for (int32_t i = 0; i < count; ++i) {
      const double ax = SpanStart(stamps[i].x, c.layout.unitX);
      int32_t x0, x1;
      ColumnsOf(c, ax, &x0, &x1);
      columns[2 * i] = x0;
      columns[2 * i + 1] = x1;
      for (int32_t x = x0; x < x1; ++x) {
        across[std::ptrdiff_t(i) * made.span + (x - x0)] = TentCover(ax, ax + c.layout.unitX, double(x) + 0.5);
      }
    }
    made.columns = columns;
    made.across = across;
  }
  // The picture rows the stamps reach, each once, top down: laid in turn, or
  // listed and laid in bands.
  int32_t next = 0, reached = 0;
  for (int32_t i = 0; i < count; ++i) {
    const double ay = SpanStart(stamps[i].y, c.layout.unitY);
    int32_t y0 = TruncToInt(std::floor(ay - 1.5)), y1 = TruncToInt(std::ceil(ay + c.layout.unitY + 0.5));
    if (y0 < next) y0 = next;
    if (y1 > c.height) y1 = c.height;
    for (int32_t y = y0; y < y1; ++y) {
      if (rows != nullptr) {
        rows[reached++] = y;
      } else {
        LayRow(c, stamps, count, y, cover, made);
      }
    }
    if (y1 > next) next = y1;
  }
  if (rows != nullptr && reached > 0) {
    // The host is not asked in between: the pass reported its walkers.
    const RenderJob quiet = RenderJob();
    int32_t reported = 0;
    RunRowBands(LayRows(c, stamps, count, rows, cover, made), reached, c.threads, quiet, &reported);
  }
  FreeMemBlock(rows);
  FreeMemBlock(across);
  FreeMemBlock(columns);
  FreeMemBlock(cover);
}

}  // namespace

void AddMarkStamp(const SoftCanvas& canvas, MarkStamps* marks, float x, float y) {
  if (marks->laid + marks->count >= kMostStamps) return;
  if (marks->count == marks->capacity) {
    const int64_t capacity = marks->capacity > 0 ? int64_t(marks->capacity) * 2 : kFirstCapacity;
    const int64_t bytes = capacity * int64_t(sizeof(MarkStamp));
    MarkStamp* grown = bytes <= INT32_MAX ? static_cast<MarkStamp*>(NewMemBlock(int32_t(bytes))) : nullptr;
    if (grown == nullptr) {
      Lay(canvas, marks->stamps, marks->count);
      marks->laid += marks->count;
      marks->count = 0;
      if (marks->capacity == 0) {
        const MarkStamp stamp = {x, y};
        LayHard(canvas, &stamp, 1);
        return;
      }
    } else {
      if (marks->count > 0) std::memcpy(grown, marks->stamps, sizeof(MarkStamp) * size_t(marks->count));
      FreeMemBlock(marks->stamps);
      marks->stamps = grown;
      marks->capacity = int32_t(capacity);
    }
  }
  marks->stamps[marks->count++] = MarkStamp{x, y};
}

void LayMarkStamps(const SoftCanvas& canvas, MarkStamps* marks) {
  Lay(canvas, marks->stamps, marks->count);
  FreeMemBlock(marks->stamps);
  marks->stamps = nullptr;
  marks->count = 0;
  marks->capacity = 0;
  marks->laid = 0;
}

void SetStampColumnBytesForTesting(int32_t bytes) {
  gMostColumnBytes = bytes > 0 ? bytes : kMostColumnBytes;
}
