// Which kernel runs the tone pass's rows: every kernel gives the same bytes, and
// a render takes the fastest this processor runs (AVX2 where AVX-512 also runs,
// see DefaultToneKernel) unless the environment variable
// PATINEX_SIMD names another (for tests and benchmarks; read once, like
// PATINEX_THREADS). PATINEX_SIMD=scalar gives the plain loops that a build for a
// processor without SSE2 (an ARM build of patinex.so) runs.
//
// The vector kernels take the rows in lanes: SSE2 (the 32-bit module's floor),
// AVX2 and AVX-512, each in its own file (render/ToneKernelsSse2.cpp, ...Avx2,
// ...Avx512) that alone is built for its instruction set; BestToneKernel asks the
// processor (cpuid) and the operating system (xgetbv: it saves the wider
// registers) which of them run. This header is shared by those files and the
// code built for the floor, so it holds only plain data and declarations: no
// inline code compiled for a wider set can stand in for the floor's.
//
// Every kernel's rows are one template, render/ToneRow.h, instantiated in each
// kernel's file for its instruction set's ops. A new kernel adds its value below
// (from the plainest up, so that a processor that runs one runs those before
// it), its name in ToneKernels.cpp, what the processor must have in
// BestToneKernel, and its rows in ToneRowsOf.
#pragma once

#include <cstdint>

enum class ToneKernel : int32_t {
  kChosen = 0,  // not a kernel: the one RenderToneKernel() gives
  kScalar = 1,
  kSse2 = 2,
  kAvx2 = 3,
  kAvx512 = 4,
  // WebAssembly's 128-bit SIMD: built only for the browser page, where no x86
  // kernel is (their rows are null there, so the choice never falls onto one).
  kWasmSimd128 = 5,
  // AVX-512 with VBMI's byte permutes (after WebAssembly's value, which an x86
  // processor never has: the choice steps down past its null rows to AVX-512).
  kAvx512Vbmi = 6,
};

// The kernel's name as PATINEX_SIMD takes it ("scalar", "sse2", "avx2", "avx512",
// "wasm-simd128", "avx512vbmi").
const char* ToneKernelName(ToneKernel kernel);

// The fastest kernel this processor and this build run.
ToneKernel BestToneKernel();

// The kernel a render takes by default when `best` is the best this processor
// runs: `best`, but AVX2 where AVX-512 without VBMI runs (see ToneKernels.cpp).
ToneKernel DefaultToneKernel(ToneKernel best);

// The kernel from the best this processor runs and the text of PATINEX_SIMD
// (null when unset): the name of a kernel up to `best` that this build has
// (blanks around it allowed) chooses it; anything else is ignored (the default).
ToneKernel ToneKernelFrom(ToneKernel best, const char* setting);

// The kernel for this machine and process (read once).
ToneKernel RenderToneKernel();

const int32_t kLaneGraySums = 3 * 255 + 1;

// What a lane kernel reads, filled once per tone pass.
//
// Grain. A draw d (0..32767) gives the remainder r = d mod m (m = the modulus,
// 1..32768; a modulus of 0 or less counts as 1, one above 32767 as 32768, both
// giving the same remainders as the formula), and the grain
//   trunc(r - half) = r - floorHalf - (r > ceilHalfLess1 ? 1 : 0),
// with floorHalf = floor(half) and ceilHalfLess1 = ceil(half) - 1, or 32767
// when half is whole. (Proof: r and half are both whole multiples of half's
// last place, which is at most 1 here, and |r - half| <= half because r < 2 half;
// so r - half is exact in doubles, and trunc of an exact r - half is
// r - floor(half) at or below half, r - ceil(half) above it.)
//
// The remainder in lanes: q = (d * reciprocal) >> 16 with reciprocal =
// 65535 / m (whole division), r = d - q m, then r -= m once if r >= m. Proof:
// reciprocal <= 65536 / m gives q <= d / m, so q <= floor(d / m) and r >= 0;
// reciprocal >= (65535 - (m - 1)) / m = 65536 / m - 1 gives
// d reciprocal / 65536 >= d / m - d / 65536 > d / m - 1/2 (d < 32768), whose
// floor q is at least floor(d / m) - 1, so r < 2m: one step ends it. Also
// 0 <= r <= d <= 32767, so r fits a signed 16-bit lane. Tested for every draw
// and every modulus.
//
// Values. With grain from gLow to gHigh (drawn: gLow = -floorHalf and gHigh the
// grain of the largest remainder), a channel value v stores the same byte as
// the value bounded to -gHigh .. 255 - gLow: below -gHigh, v + g <= 0 for every
// g; above 255 - gLow, v + g >= 255. So every value fits 16 bits when gLow >=
// -kLaneMaxFloorHalf and gHigh <= 32767 (FillToneLaneValues), and value + grain
// is added with signed saturation, which clamps as the 32-bit sum would, before
// the unsigned saturating pack to bytes.
//
// The grain's source (GrainSource): none; drawn, one number per pixel from the
// generator and its grain as above; a row, pixel x's grain given as
// grainRow[x] (the same n added to red, green and blue and clamped as a drawn
// one), which draws no number and leaves the generator as it is; or, at 8 bits,
// a scaled render's field (render/ScaledGrain.h): pixel x's grain the blend of
// two field rows, given as a row is.
enum class GrainSource : int32_t { kNone = 0, kDrawn = 1, kRow = 2, kField = 3 };

// The grain given to an 8-bit row: with GrainSource::kRow, row[x]; with
// GrainSource::kField, (first[x] * (256 - weight) + second[x] * weight + add)
// >> 12 (within 32 bits: the field's values are 16-bit, the weight 0..256).
struct GivenGrain8 {
  const int16_t* row;
  const int16_t* first;
  const int16_t* second;
  int32_t weight;
  int32_t add;
};

struct ToneLaneTables {
  // With gray on: the bounded red, green, blue of each sum of the three source
  // bytes (its gray level is sum / 3), and a fourth lane of 0: one 8-byte load.
  alignas(64) int16_t gray[kLaneGraySums][4];
  // The bounded curve of each channel byte.
  int16_t curve[256];
  uint16_t modulus;     // 1..32768
  uint16_t reciprocal;  // 65535 / modulus
  int16_t floorHalf;
  int16_t ceilHalfLess1;
  // The scalar kernel's look-ups where the tone pass made them (else null, and
  // the rows compute): each draw's grain by the formula above (made when it
  // lies within -128..127: a table that stays in the first-level cache), and
  // the byte stored for a value plus its grain s at clamp[s + kLaneClampBias]
  // (made when gHigh - gLow <= 255, so that every such sum lies within
  // -255..510).
  const int8_t* drawGrain;
  const uint8_t* clamp;
  // Where every value the row reads (the curve, or with gray on the gray
  // levels' channels) lies within 0..255: the same values as bytes, for the
  // kernels that look bytes up by permutes (AVX-512 VBMI), the curve and gray
  // level L's red, green, blue at grayBytes[c][L]. For such a byte v the stored
  // byte is the clamp of v + g as two byte saturations: min(v + max(g, 0), 255),
  // then less max(-g, 0) down to 0 (one of the two is 0; a grain past 255
  // either way saturates as the sum would).
  bool valuesAreBytes;
  alignas(64) uint8_t curveBytes[256];
  alignas(64) uint8_t grayBytes[3][256];
};
const int32_t kLaneClampBias = 255;
const int32_t kLaneClampSize = 3 * 255 + 1;

// The largest -gLow the lanes take: the bound 255 - gLow must fit a signed
// 16-bit lane. Larger grain (a Grain Amount of more than 25500) goes to the
// tone pass's general loop.
const int32_t kLaneMaxFloorHalf = 32767 - 255;

// Fills the lanes' values (curve, and gray when grayCurve is not null) from the
// exact curve of every byte and the three tinted, curved channels of every gray
// level, bounded for grain within gLow..gHigh. False when that range does not
// fit the lanes (the plain rows then take the row); the grain fields are left,
// and the scalar look-ups are none.
bool FillToneLaneValues(const int32_t* curve, const int32_t (*grayCurve)[3], int32_t gLow,
                        int32_t gHigh, ToneLaneTables* t);

// One picture row: `width` pixels of `bytesPerPixel` from s to d, with the
// grain of the row's source (GrainSource): drawn, one number per pixel from
// *state, leaving *state after the row's last draw; or given (otherwise
// ignored: pass null). With 4 bytes per pixel the destination's fourth byte is
// kept.
typedef void (*ToneLaneRow)(const uint8_t* s, uint8_t* d, int32_t width,
                            const ToneLaneTables& t, uint32_t* state, const GivenGrain8* given);

// Rows of 16-bit samples (render/Samples16.h), from tables the 16-bit tone pass
// fills (render/TonePass16.cpp): the same draws as the 8-bit rows, each looked
// up in a table of its widened grain, and every sample's value looked up in
// 32-bit lanes.
//
// Gray: the sum of the three samples (each at most 32768 after the clamp) is at
// most 98304, and its third is taken in single-precision lanes,
// trunc(float(sum) * f) with f = float(1/3) = (2^25 + 1) / (3 * 2^25). The sum
// is exact in a float; sum * f = sum / 3 + sum / (3 * 2^25), whose excess is
// at most 2^-10; the product rounds by at most half a float step (2^-9 below
// 65536) and never below the whole q = floor(sum / 3), since sum / 3 lies 0,
// 1/3 or 2/3 above q. So the rounded product lies in
// [q, q + 2/3 + 2^-10 + 2^-9], below q + 1: its truncation is q. (0xAAAB / 2^17 in 32-bit lanes would be exact too, but 98304 * 0xAAAB
// needs 33 bits.) Tested for every sum.
//
// Values. The curves are bounded to -kLaneBound16..kLaneBound16 and every
// widened grain lies within -kLaneMaxGrain16..kLaneMaxGrain16, so value + grain
// fits a 32-bit lane, and a bounded value stores what the unbounded one does:
// below -kLaneBound16 the sum is below 0 for every grain, above kLaneBound16
// above 32768.
const int32_t kLaneBound16 = int32_t(1) << 30;
const int32_t kLaneMaxGrain16 = int32_t(1) << 24;
struct ToneLaneTables16 {
  const int32_t* curve;      // 32769: each sample's curve
  const int32_t* grayCurve;  // 4 * 32769: gray level g, channel c at 4 g + c (4 g + 3: 0)
  const int32_t* grain;      // 32768: each draw's widened grain (unread with grain off)
};

// One picture row of 16-bit samples, `samplesPerPixel` (3 or 4) to a pixel, from
// s to d; with 4 the destination's fourth sample is kept. Grain as ToneLaneRow,
// a given grain widened (within -kLaneMaxGrain16..kLaneMaxGrain16).
typedef void (*ToneLaneRow16)(const uint8_t* s, uint8_t* d, int32_t width,
                              const ToneLaneTables16& t, uint32_t* state,
                              const int32_t* grainRow);

// A row of a scaled render's grain field (render/ScaledGrain.h): its grid
// row's `gridWidth` cells drawn from `state` (the generator before the row's
// first draw), each cell values[draw] (`values` has one value past its 32768,
// and repeats with `period`: values[draw] = values[draw % period]);
// then the row, one pixel at a time: out[x] = (cells[c] (256 - w) + cells[c +
// 1] w + 128) >> 8, c = cellOf[x], weights[x] = (256 - w) | w << 16, with the
// last cell repeated after the row's. `scratch` holds 2 (gridWidth + 32) values.
typedef void (*FieldRowMaker)(uint32_t state, const int16_t* values, int32_t period,
                              int32_t gridWidth, int32_t* scratch, const int32_t* cellOf,
                              const int32_t* weights, int32_t width, int16_t* out);

// A kernel's rows: [gray][GrainSource] (16 bits: no field) and in each pair 3,
// then 4 bytes (8 bits) or samples (16 bits) per pixel; for the exhaustive test, the
// remainders of `count` draws (a multiple of 64) by the kernel's own lane code;
// and its field rows, where it has a faster way than the plain loop (else null).
struct ToneRowSet {
  struct Pair8 {
    ToneLaneRow row[2];
  };
  struct Pair16 {
    ToneLaneRow16 row[2];
  };
  Pair8 rows8[2][4];
  Pair16 rows16[2][3];
  bool (*remainders)(const uint16_t* draws, int32_t count, uint16_t modulus, uint16_t* out);
  FieldRowMaker fieldRow;
};

// The row picker of every kernel and depth: the kernel's rows, or null when
// this build has no such kernel (a build for another processor). Each kernel's
// file gives its own (ToneRowsSse2 in ToneKernelsSse2.cpp, ...).
const ToneRowSet* ToneRowsOf(ToneKernel kernel);
const ToneRowSet* ToneRowsScalar();
const ToneRowSet* ToneRowsSse2();
const ToneRowSet* ToneRowsAvx2();
const ToneRowSet* ToneRowsAvx512();
const ToneRowSet* ToneRowsWasmSimd128();
const ToneRowSet* ToneRowsAvx512Vbmi();
// The AVX2 field rows (ToneKernelsAvx2.cpp, where that file is built for AVX2).
void FieldRowAvx2(uint32_t state, const int16_t* values, int32_t period, int32_t gridWidth,
                  int32_t* scratch, const int32_t* cellOf, const int32_t* weights, int32_t width,
                  int16_t* out);
