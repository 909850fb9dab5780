// The tone pass's row, written once for every kernel and both depths: the draws
// (the generator jumped ahead in lanes), the grain's remainder, the grain given
// in a row, the block loop and the one-pixel tail. What an instruction set does
// its own way comes from its ops struct (ScalarOps here; Sse2Ops, Avx2Ops and
// Avx512Ops in their files): how many pixels a block holds, the 16- and 32-bit
// lane operations the shared formulas use, and each block's loads, look-ups
// (gathers) and stores.
//
// Each kernel's file includes this header and is built for its instruction
// set; everything here has internal linkage, so each keeps its own copy and no
// code compiled for a wider set can stand in for the floor's. Each file's rows
// are one table (ToneRowSet, render/ToneKernels.h), filled by MakeToneRows.
//
// What an ops struct gives (V16: 16-bit lanes, one a pixel of a block; V32:
// 32-bit lanes, half a block's pixels):
//   kPixels, Overreach(bpp)          pixels a block takes; pixels its loads and
//                                    stores reach past it (8-bit rows)
//   Set1_16/32, LoadU16/32, StoreU16, Zero16
//   Add16, Sub16, MulLo16, MulHiU16, MinU16, CmpGt16 (signed, -1 where a > b)
//   MulLo32, Add32, Sra16By16 (each 32-bit lane's bits 16..31, sign kept),
//   PackS32 (two V32 to one V16 in pixel order, see MakeGenerator), And16
//   UnpackLo16, UnpackHi16, MAdd16, Sra32By12
//                                    a field's blend (see FieldGrain)
//   AddS16, PackUS16                 the 8-bit clamp (see Clamp8)
//   Values8<gray, bpp>(s, t, &a, &b), SpreadGrain8(g, half, &ga, &gb),
//   StoreBytes<bpp>(d, out)          half a block's 8-bit values, its grain
//                                    in their order, and its store
//   Grain16, GrainOfDraws16, LoadGrain16, ZeroGrain16, Context16<spp> (what a
//   row's blocks keep in registers), Block16<gray, spp>
//                                    a block of 16-bit samples
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

// Only Random.h's constants are used here: an inline function of it used in a
// kernel's file would be compiled for that file's instruction set.
#include "render/Random.h"
#include "render/ToneKernels.h"

namespace {

// The generator k steps at a time: state(k) = A^k * state + C * (A^(k-1) + ... + 1).
// Entry k - 1 holds the constants for k steps, k = 1..64: the lanes of a block
// start from the state before it, each jumped ahead by its pixel's place.
struct LaneSteps {
  uint32_t a[64];
  uint32_t c[64];
};
constexpr LaneSteps MakeLaneSteps() {
  LaneSteps t = {{0}, {0}};
  uint32_t a = 1, c = 0;
  for (int k = 0; k < 64; ++k) {
    a = a * kRandMultiplier;
    c = c * kRandMultiplier + kRandIncrement;
    t.a[k] = a;
    t.c[k] = c;
  }
  return t;
}
constexpr LaneSteps kLaneSteps = MakeLaneSteps();

// The lane operations on one value: a 16-bit lane held in the low bits of a
// uint32_t, wrapping as a lane does. The tail of every kernel's rows, and the
// whole row of the scalar kernel.
struct ScalarOps {
  typedef uint32_t V16;
  static const int32_t kPixels = 1;
  static V16 Set1_16(int32_t v) { return uint32_t(v) & 0xFFFFu; }
  static V16 LoadU16(const void* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  static void StoreU16(void* p, V16 v) {
    const uint16_t w = uint16_t(v);
    std::memcpy(p, &w, 2);
  }
  static V16 Add16(V16 a, V16 b) { return (a + b) & 0xFFFFu; }
  static V16 Sub16(V16 a, V16 b) { return (a - b) & 0xFFFFu; }
  static V16 MulLo16(V16 a, V16 b) { return (a * b) & 0xFFFFu; }
  static V16 MulHiU16(V16 a, V16 b) { return (a * b) >> 16; }
  static V16 MinU16(V16 a, V16 b) { return a < b ? a : b; }
  static V16 CmpGt16(V16 a, V16 b) { return int16_t(a) > int16_t(b) ? 0xFFFFu : 0u; }
};

// d mod m in lanes (see render/ToneKernels.h for why one correction suffices):
// q = (d * reciprocal) >> 16, r = d - q m, and r - m where r >= m, which is the
// lanes' unsigned minimum of r and r - m (r - m wraps above r when r < m).
template <class Ops>
inline typename Ops::V16 Remainders(typename Ops::V16 d, typename Ops::V16 m,
                                    typename Ops::V16 reciprocal) {
  const typename Ops::V16 r = Ops::Sub16(d, Ops::MulLo16(Ops::MulHiU16(d, reciprocal), m));
  return Ops::MinU16(r, Ops::Sub16(r, m));
}

template <class Ops>
struct GrainLanes {
  typename Ops::V16 modulus, reciprocal, floorHalf, ceilHalfLess1;
};

template <class Ops>
inline GrainLanes<Ops> MakeGrainLanes(const ToneLaneTables& t) {
  GrainLanes<Ops> g;
  g.modulus = Ops::Set1_16(t.modulus);
  g.reciprocal = Ops::Set1_16(t.reciprocal);
  g.floorHalf = Ops::Set1_16(t.floorHalf);
  g.ceilHalfLess1 = Ops::Set1_16(t.ceilHalfLess1);
  return g;
}

// Each draw's grain: r - floorHalf - (r > ceilHalfLess1 ? 1 : 0).
template <class Ops>
inline typename Ops::V16 Grain(typename Ops::V16 draws, const GrainLanes<Ops>& g) {
  const typename Ops::V16 r = Remainders<Ops>(draws, g.modulus, g.reciprocal);
  return Ops::Add16(Ops::Sub16(r, g.floorHalf), Ops::CmpGt16(r, g.ceilHalfLess1));
}

// The generator's states of a block's pixels in two vectors of 32-bit lanes:
// lane i of the first holds pixel (i / 4) * 8 + i % 4, of the second that pixel
// + 4, so that the lanes' pack (per 128 bits) puts the draws in pixel order.
template <class Ops>
struct Generator {
  typename Ops::V32 a0, c0, a1, c1;
};

template <class Ops>
inline Generator<Ops> MakeGenerator() {
  const int kLanes = Ops::kPixels / 2;
  uint32_t a0[kLanes], c0[kLanes], a1[kLanes], c1[kLanes];
  for (int i = 0; i < kLanes; ++i) {
    const int pixel = (i / 4) * 8 + i % 4;
    a0[i] = kLaneSteps.a[pixel];
    c0[i] = kLaneSteps.c[pixel];
    a1[i] = kLaneSteps.a[pixel + 4];
    c1[i] = kLaneSteps.c[pixel + 4];
  }
  Generator<Ops> g;
  g.a0 = Ops::LoadU32(a0);
  g.c0 = Ops::LoadU32(c0);
  g.a1 = Ops::LoadU32(a1);
  g.c1 = Ops::LoadU32(c1);
  return g;
}

// The block's draws (bits 16..30 of each state) after the state `st`.
template <class Ops>
inline typename Ops::V16 Draws(const Generator<Ops>& g, uint32_t st) {
  const typename Ops::V32 s = Ops::Set1_32(st);
  const typename Ops::V32 s0 = Ops::Add32(Ops::MulLo32(s, g.a0), g.c0);
  const typename Ops::V32 s1 = Ops::Add32(Ops::MulLo32(s, g.a1), g.c1);
  return Ops::And16(Ops::PackS32(Ops::Sra16By16(s0), Ops::Sra16By16(s1)), Ops::Set1_16(0x7FFF));
}

// The 8-bit clamp in lanes: a value and its grain each fit 16 bits (the tables
// are bounded for it), so signed saturation, then the unsigned saturating pack
// to bytes, is the clamp of their sum to 0..255; Clamp8Scalar is the same one
// value at a time.
template <class Ops>
inline typename Ops::V Clamp8(typename Ops::V a, typename Ops::V ga, typename Ops::V b,
                              typename Ops::V gb) {
  return Ops::PackUS16(Ops::AddS16(a, ga), Ops::AddS16(b, gb));
}
inline uint8_t Clamp8Scalar(int32_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// A 16-bit sample, above 32768 counted as 32768, and a value stored as a sample:
// render/Samples16.h's LoadClampedSample and ClampSample with StoreSample,
// written again here because an inline function of another header would be
// compiled for this file's instruction set (see the includes above).
inline uint32_t LaneSample16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v > 32768 ? 32768u : v;
}
inline void LaneStore16(uint8_t* p, int32_t v) {
  const uint16_t sample = uint16_t(v < 0 ? 0 : (v > 32768 ? 32768 : v));
  std::memcpy(p, &sample, 2);
}

// One pixel with its grain g: 3 or 4 bytes, or 6 or 8 bytes of 16-bit samples.
// `clamp` is the table's clamp (t.clamp, read once per row), or null.
template <bool kGray, int kBpp>
inline void TonePixel(const uint8_t* s, uint8_t* d, const ToneLaneTables& t, int32_t g,
                      const uint8_t* clamp) {
  int32_t red, green, blue;
  if (kGray) {
    const int16_t* v = t.gray[s[0] + s[1] + s[2]];
    red = v[0];
    green = v[1];
    blue = v[2];
  } else {
    red = t.curve[s[0]];
    green = t.curve[s[1]];
    blue = t.curve[s[2]];
  }
  if (clamp != nullptr) {
    const uint8_t* withGrain = clamp + g;
    d[0] = withGrain[red];
    d[1] = withGrain[green];
    d[2] = withGrain[blue];
  } else {
    d[0] = Clamp8Scalar(red + g);
    d[1] = Clamp8Scalar(green + g);
    d[2] = Clamp8Scalar(blue + g);
  }
}
template <bool kGray, int kBpp>
inline void TonePixel(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, int32_t g,
                      const uint8_t*) {
  const uint32_t red = LaneSample16(s), green = LaneSample16(s + 2), blue = LaneSample16(s + 4);
  if (kGray) {
    const int32_t* v = t.grayCurve + 4 * ((red + green + blue) / 3);
    LaneStore16(d, v[0] + g);
    LaneStore16(d + 2, v[1] + g);
    LaneStore16(d + 4, v[2] + g);
  } else {
    LaneStore16(d, t.curve[red] + g);
    LaneStore16(d + 2, t.curve[green] + g);
    LaneStore16(d + 4, t.curve[blue] + g);
  }
}

// 16-bit samples for kernels of eight 16-bit lanes without gathers (SSE2,
// WebAssembly): pixel p's widened grain is values[index[p]] (the draws into the
// grain table, or a given row in order), and the block's pixels go one at a
// time. The ops struct derives from it and stores its draws as the indexes
// (GrainOfDraws16).
struct PixelByPixel16 {
  struct Grain16 {
    const int32_t* values;
    alignas(16) uint16_t index[8];
  };
  static Grain16 ZeroGrain16() {
    static const int32_t kZero = 0;
    return Grain16{&kZero, {0, 0, 0, 0, 0, 0, 0, 0}};
  }
  static Grain16 LoadGrain16(const int32_t* row) { return Grain16{row, {0, 1, 2, 3, 4, 5, 6, 7}}; }
  struct Row16 {};
  template <int kSpp>
  static Row16 Context16() {
    return Row16();
  }
  template <bool kGray, int kSpp>
  static void Block16(const uint8_t* s, uint8_t* d, const ToneLaneTables16& t, const Grain16& g,
                      const Row16&) {
    for (int p = 0; p < 8; ++p) {
      TonePixel<kGray, 2 * kSpp>(s + 2 * kSpp * p, d + 2 * kSpp * p, t, g.values[g.index[p]],
                                 nullptr);
    }
  }
};

// Bytes per pixel above 4 are 16-bit samples: their tables and given grain.
template <int kBpp>
using ToneTablesOf = typename std::conditional<(kBpp > 4), ToneLaneTables16, ToneLaneTables>::type;
template <int kBpp>
using GivenGrainOf = typename std::conditional<(kBpp > 4), int32_t, GivenGrain8>::type;

// A block's grain from a scaled render's field (GrainSource::kField): each
// pixel's two field values side by side in 32-bit lanes, times (256 - weight,
// weight) in one multiply-add, the offset added, shifted, packed back in pixel
// order (the unpacks and the pack both work within 128-bit parts).
template <class Ops>
struct FieldLanes {
  typename Ops::V32 weights, add;
};
template <class Ops>
inline FieldLanes<Ops> MakeFieldLanes(const GivenGrain8* given) {
  FieldLanes<Ops> f = {Ops::Set1_32(0), Ops::Set1_32(0)};
  if (given != nullptr) {
    f.weights = Ops::Set1_32(uint32_t(256 - given->weight) | (uint32_t(given->weight) << 16));
    f.add = Ops::Set1_32(uint32_t(given->add));
  }
  return f;
}
template <class Ops>
inline typename Ops::V16 FieldGrain(const int16_t* first, const int16_t* second,
                                    const FieldLanes<Ops>& f) {
  const typename Ops::V16 a = Ops::LoadU16(first), b = Ops::LoadU16(second);
  const typename Ops::V32 lo = Ops::Sra32By12(Ops::Add32(Ops::MAdd16(Ops::UnpackLo16(a, b), f.weights), f.add));
  const typename Ops::V32 hi = Ops::Sra32By12(Ops::Add32(Ops::MAdd16(Ops::UnpackHi16(a, b), f.weights), f.add));
  return Ops::PackS32(lo, hi);
}

// With a field's grain (GrainSource::kField) the rows also read two field
// rows beside the picture, and the processor's own prefetch falls behind on
// the picture: each block or run asks for its source bytes a kilobyte ahead (a
// hint, which cannot fault past the picture's end). Drawn grain keeps up
// without it, and is slower with it.
template <int kBytes>
inline void PrefetchFieldSource(const uint8_t* s) {
  const int32_t kAhead = 1024;
#pragma GCC unroll 4
  for (int32_t q = 0; q < kBytes; q += 64) __builtin_prefetch(s + kAhead + q, 0, 3);
}

// How many blocks an ops struct's byte run takes (Ops::kByteBlocks), or 0 for
// ops without one. A byte run looks the values up as bytes
// (ToneLaneTables::valuesAreBytes) with whatever the instruction set permutes
// bytes by: Ops::ByteTables, LoadByteTables<gray>(t) (the tables in registers,
// once a row) and ByteRun<gray, bpp>(s, d, tables, grain) (kByteBlocks blocks,
// their grain in the blocks' 16-bit lanes; no loads or stores past the run).
template <class Ops, class = void>
constexpr int kByteBlocks = 0;
template <class Ops>
constexpr int kByteBlocks<Ops, std::void_t<decltype(Ops::kByteBlocks)>> = Ops::kByteBlocks;

// One picture row (see ToneLaneRow): whole blocks of Ops::kPixels (after runs of
// them as bytes, where the ops have them), then the last pixels one at a time
// with the same grain.
template <class Ops, bool kGray, GrainSource kGrain, int kBpp>
void ToneRow(const uint8_t* s, uint8_t* d, int32_t width, const ToneTablesOf<kBpp>& t,
             uint32_t* state, const GivenGrainOf<kBpp>* given) {
  const bool kSixteen = kBpp > 4;
  uint32_t st = *state;
  int32_t x = 0;
  if constexpr (Ops::kPixels > 1) {
    const int32_t kBlock = Ops::kPixels;
    const Generator<Ops> gen = MakeGenerator<Ops>();
    const int32_t blockEnd = width - kBlock - Ops::Overreach(kBpp);
    if constexpr (kSixteen) {
      const auto context = Ops::template Context16<kBpp / 2>();
      for (; x <= blockEnd; x += kBlock, s += kBlock * kBpp, d += kBlock * kBpp) {
        typename Ops::Grain16 g = Ops::ZeroGrain16();
        if (kGrain == GrainSource::kDrawn) {
          g = Ops::GrainOfDraws16(t.grain, Draws<Ops>(gen, st));
          st = st * kLaneSteps.a[kBlock - 1] + kLaneSteps.c[kBlock - 1];
        } else if (kGrain == GrainSource::kRow) {
          g = Ops::LoadGrain16(given + x);
        }
        Ops::template Block16<kGray, kBpp / 2>(s, d, t, g, context);
      }
    } else {
      const GrainLanes<Ops> lanes = MakeGrainLanes<Ops>(t);
      const FieldLanes<Ops> field = MakeFieldLanes<Ops>(kGrain == GrainSource::kField ? given : nullptr);
      const int32_t kHalf = kBlock / 2;
      // The given rows, read once (the stores to d could alias *given).
      const int16_t* const givenRow = kGrain == GrainSource::kRow ? given->row : nullptr;
      const int16_t* const first = kGrain == GrainSource::kField ? given->first : nullptr;
      const int16_t* const second = kGrain == GrainSource::kField ? given->second : nullptr;
      // The grain of the block of pixels at..at + kBlock - 1, the draws taken.
      auto blockGrain = [&](int32_t at) {
        typename Ops::V16 g = Ops::Zero16();
        if (kGrain == GrainSource::kDrawn) {
          g = Grain<Ops>(Draws<Ops>(gen, st), lanes);
          st = st * kLaneSteps.a[kBlock - 1] + kLaneSteps.c[kBlock - 1];
        } else if (kGrain == GrainSource::kRow) {
          g = Ops::LoadU16(givenRow + at);
        } else if (kGrain == GrainSource::kField) {
          g = FieldGrain<Ops>(first + at, second + at, field);
        }
        return g;
      };
      // Kernels with byte permutes first take whole runs of kByteBlocks blocks
      // through byte tables, where the values are bytes; the blocks below take
      // what is left.
      if constexpr (kByteBlocks<Ops> > 0) {
        if (t.valuesAreBytes) {
          const int32_t kRun = kByteBlocks<Ops> * kBlock;
          const typename Ops::ByteTables bytes = Ops::template LoadByteTables<kGray>(t);
          for (; x <= width - kRun; x += kRun, s += kRun * kBpp, d += kRun * kBpp) {
            typename Ops::V16 g[kByteBlocks<Ops>];
#pragma GCC unroll 8
            for (int i = 0; i < kByteBlocks<Ops>; ++i) g[i] = blockGrain(x + i * kBlock);
            if (kGrain == GrainSource::kField) PrefetchFieldSource<kRun * kBpp>(s);
            Ops::template ByteRun<kGray, kBpp>(s, d, bytes, g);
          }
        }
      }
      for (; x <= blockEnd; x += kBlock, s += kBlock * kBpp, d += kBlock * kBpp) {
        const typename Ops::V16 g = blockGrain(x);
        if (kGrain == GrainSource::kField) PrefetchFieldSource<kBlock * kBpp>(s);
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
          typename Ops::V a, b, ga, gb;
          Ops::template Values8<kGray, kBpp>(s + half * kHalf * kBpp, t, &a, &b);
          Ops::SpreadGrain8(g, half, &ga, &gb);
          Ops::template StoreBytes<kBpp>(d + half * kHalf * kBpp, Clamp8<Ops>(a, ga, b, gb));
        }
      }
    }
  }
  // The tail (the whole row for the scalar kernel): four pixels at a time from
  // independent jumps of the generator, then one at a time.
  GrainLanes<ScalarOps> one = {0, 0, 0, 0};
  const int8_t* drawGrain = nullptr;
  const uint8_t* clamp = nullptr;
  if constexpr (!kSixteen) {
    one = MakeGrainLanes<ScalarOps>(t);
    drawGrain = t.drawGrain;
    if (t.clamp != nullptr) clamp = t.clamp + kLaneClampBias;
  }
  auto grainOf = [&](uint32_t draw) -> int32_t {
    if constexpr (kSixteen) {
      return t.grain[draw];
    } else {
      return drawGrain != nullptr ? drawGrain[draw] : int16_t(Grain<ScalarOps>(draw, one));
    }
  };
  if (kGrain == GrainSource::kDrawn) {
    for (; x + 4 <= width; x += 4, s += 4 * kBpp, d += 4 * kBpp) {
      const uint32_t s1 = st * kLaneSteps.a[0] + kLaneSteps.c[0];
      const uint32_t s2 = st * kLaneSteps.a[1] + kLaneSteps.c[1];
      const uint32_t s3 = st * kLaneSteps.a[2] + kLaneSteps.c[2];
      st = st * kLaneSteps.a[3] + kLaneSteps.c[3];
      TonePixel<kGray, kBpp>(s, d, t, grainOf((s1 >> 16) & 0x7FFF), clamp);
      TonePixel<kGray, kBpp>(s + kBpp, d + kBpp, t, grainOf((s2 >> 16) & 0x7FFF), clamp);
      TonePixel<kGray, kBpp>(s + 2 * kBpp, d + 2 * kBpp, t, grainOf((s3 >> 16) & 0x7FFF), clamp);
      TonePixel<kGray, kBpp>(s + 3 * kBpp, d + 3 * kBpp, t, grainOf((st >> 16) & 0x7FFF), clamp);
    }
  }
  for (; x < width; ++x, s += kBpp, d += kBpp) {
    int32_t g = 0;
    if (kGrain == GrainSource::kDrawn) {
      st = st * kLaneSteps.a[0] + kLaneSteps.c[0];
      g = grainOf((st >> 16) & 0x7FFF);
    } else if constexpr (kSixteen) {
      if (kGrain == GrainSource::kRow) g = given[x];
    } else if (kGrain == GrainSource::kRow) {
      g = given->row[x];
    } else if (kGrain == GrainSource::kField) {
      g = (given->first[x] * (256 - given->weight) + given->second[x] * given->weight + given->add) >> 12;
    }
    TonePixel<kGray, kBpp>(s, d, t, g, clamp);
  }
  *state = st;
}

// `count` draws' remainders (a multiple of 64) by the ops' lane code.
template <class Ops>
bool LaneRemainders(const uint16_t* draws, int32_t count, uint16_t modulus, uint16_t* out) {
  const typename Ops::V16 m = Ops::Set1_16(modulus);
  const typename Ops::V16 reciprocal = Ops::Set1_16(65535 / modulus);
  for (int32_t i = 0; i + Ops::kPixels <= count; i += Ops::kPixels) {
    Ops::StoreU16(out + i, Remainders<Ops>(Ops::LoadU16(draws + i), m, reciprocal));
  }
  return true;
}

// A kernel's rows for every layout, grain source and depth.
template <class Ops, bool kGray, GrainSource kGrain>
constexpr ToneRowSet::Pair8 Rows8() {
  return {{ToneRow<Ops, kGray, kGrain, 3>, ToneRow<Ops, kGray, kGrain, 4>}};
}
template <class Ops, bool kGray, GrainSource kGrain>
constexpr ToneRowSet::Pair16 Rows16() {
  return {{ToneRow<Ops, kGray, kGrain, 6>, ToneRow<Ops, kGray, kGrain, 8>}};
}
// `fieldRow`: the kernel's field rows, where it has its own (null: the plain loop).
template <class Ops>
constexpr ToneRowSet MakeToneRows(FieldRowMaker fieldRow = nullptr) {
  const GrainSource kNone = GrainSource::kNone, kDrawn = GrainSource::kDrawn,
                    kRow = GrainSource::kRow, kField = GrainSource::kField;
  return {{{Rows8<Ops, false, kNone>(), Rows8<Ops, false, kDrawn>(), Rows8<Ops, false, kRow>(),
            Rows8<Ops, false, kField>()},
           {Rows8<Ops, true, kNone>(), Rows8<Ops, true, kDrawn>(), Rows8<Ops, true, kRow>(),
            Rows8<Ops, true, kField>()}},
          {{Rows16<Ops, false, kNone>(), Rows16<Ops, false, kDrawn>(), Rows16<Ops, false, kRow>()},
           {Rows16<Ops, true, kNone>(), Rows16<Ops, true, kDrawn>(), Rows16<Ops, true, kRow>()}},
          LaneRemainders<Ops>, fieldRow};
}

// A field row's pixels one at a time (FieldRowMaker): the tail of a kernel's.
inline void FieldPixels(const int16_t* cells, const int32_t* cellOf, const int32_t* weights,
                        int32_t x, int32_t width, int16_t* out) {
  for (; x < width; ++x) {
    const int32_t c = cellOf[x], w = weights[x] >> 16;
    out[x] = int16_t((cells[c] * (256 - w) + cells[c + 1] * w + 128) >> 8);
  }
}

}  // namespace
