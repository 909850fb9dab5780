// The tone pass's rows in WebAssembly's 128-bit SIMD (the browser page's
// SIMD build, -msimd128): the row of render/ToneRow.h on the lanes SSE2's
// kernel uses, so its shape carries over. A block is 8 pixels: their draws,
// remainders and grain in 16-bit lanes, then two halves of four pixels whose
// values are two pixels per vector (one 8-byte load per pixel with gray),
// clamped by saturation and stored whole. WebAssembly has the unsigned 16-bit
// minimum and the 32-bit multiply SSE2 lacks; the high half of a 16-bit
// product is taken from the two widening multiplies. 16-bit samples take the
// block's draws from the lanes, then each pixel's look-ups and stores one at a
// time (there are no gathers).
#include "render/ToneKernels.h"

#if defined(__wasm_simd128__)

#include <wasm_simd128.h>

#include "render/ToneRow.h"

namespace {

struct WasmSimdOps : PixelByPixel16 {
  typedef v128_t V16;
  typedef v128_t V32;
  typedef v128_t V;
  static const int32_t kPixels = 8;
  // With 3 bytes the last store reaches 4 bytes past a block: 2 pixels more.
  static constexpr int32_t Overreach(int bpp) { return bpp == 3 ? 2 : 0; }

  static V16 Set1_16(int32_t v) { return wasm_i16x8_splat(int16_t(v)); }
  static V32 Set1_32(uint32_t v) { return wasm_i32x4_splat(int32_t(v)); }
  static V16 Zero16() { return wasm_i32x4_splat(0); }
  static V16 LoadU16(const void* p) { return wasm_v128_load(p); }
  static V32 LoadU32(const uint32_t* p) { return wasm_v128_load(p); }
  static void StoreU16(void* p, V16 v) { wasm_v128_store(p, v); }
  static V16 Add16(V16 a, V16 b) { return wasm_i16x8_add(a, b); }
  static V16 Sub16(V16 a, V16 b) { return wasm_i16x8_sub(a, b); }
  static V16 MulLo16(V16 a, V16 b) { return wasm_i16x8_mul(a, b); }
  // The 32-bit products of the low and high four lanes; their high halves are
  // the odd 16-bit lanes.
  static V16 MulHiU16(V16 a, V16 b) {
    const v128_t low = wasm_u32x4_extmul_low_u16x8(a, b);
    const v128_t high = wasm_u32x4_extmul_high_u16x8(a, b);
    return wasm_i16x8_shuffle(low, high, 1, 3, 5, 7, 9, 11, 13, 15);
  }
  static V16 MinU16(V16 a, V16 b) { return wasm_u16x8_min(a, b); }
  static V16 CmpGt16(V16 a, V16 b) { return wasm_i16x8_gt(a, b); }
  static V16 And16(V16 a, V16 b) { return wasm_v128_and(a, b); }
  static V32 MulLo32(V32 a, V32 b) { return wasm_i32x4_mul(a, b); }
  static V32 Add32(V32 a, V32 b) { return wasm_i32x4_add(a, b); }
  static V32 Sra16By16(V32 a) { return wasm_i32x4_shr(a, 16); }
  static V16 PackS32(V32 a, V32 b) { return wasm_i16x8_narrow_i32x4(a, b); }
  static V32 UnpackLo16(V16 a, V16 b) { return wasm_i16x8_shuffle(a, b, 0, 8, 1, 9, 2, 10, 3, 11); }
  static V32 UnpackHi16(V16 a, V16 b) { return wasm_i16x8_shuffle(a, b, 4, 12, 5, 13, 6, 14, 7, 15); }
  static V32 MAdd16(V32 a, V32 b) { return wasm_i32x4_dot_i16x8(a, b); }
  static V32 Sra32By12(V32 a) { return wasm_i32x4_shr(a, 12); }
  static V AddS16(V a, V b) { return wasm_i16x8_add_sat(a, b); }
  static V PackUS16(V a, V b) { return wasm_u8x16_narrow_i16x8(a, b); }

  // Two pixels' red, green, blue (and 0) in four 16-bit lanes each.
  template <bool kGray, int kBpp>
  static v128_t Pixels2(const uint8_t* s, const ToneLaneTables& t) {
    if (kGray) {
      const uint8_t* n = s + kBpp;
      const v128_t first = wasm_v128_load64_zero(t.gray[s[0] + s[1] + s[2]]);
      return wasm_v128_load64_lane(t.gray[n[0] + n[1] + n[2]], first, 1);
    }
    const uint8_t* n = s + kBpp;
    return wasm_i16x8_make(t.curve[s[0]], t.curve[s[1]], t.curve[s[2]], 0, t.curve[n[0]],
                           t.curve[n[1]], t.curve[n[2]], 0);
  }
  // Half a block, four pixels: a holds pixels 0-1, b 2-3.
  template <bool kGray, int kBpp>
  static void Values8(const uint8_t* s, const ToneLaneTables& t, V* a, V* b) {
    *a = Pixels2<kGray, kBpp>(s, t);
    *b = Pixels2<kGray, kBpp>(s + 2 * kBpp, t);
  }
  // Each pixel's grain over its four lanes, in the order of a and of b.
  static void SpreadGrain8(V16 g, int half, V* ga, V* gb) {
    if (half == 0) {
      *ga = wasm_i16x8_shuffle(g, g, 0, 0, 0, 0, 1, 1, 1, 1);
      *gb = wasm_i16x8_shuffle(g, g, 2, 2, 2, 2, 3, 3, 3, 3);
    } else {
      *ga = wasm_i16x8_shuffle(g, g, 4, 4, 4, 4, 5, 5, 5, 5);
      *gb = wasm_i16x8_shuffle(g, g, 6, 6, 6, 6, 7, 7, 7, 7);
    }
  }
  template <int kBpp>
  static void StoreBytes(uint8_t* d, V out) {
    if (kBpp == 4) {
      // The destination's fourth byte of each pixel is kept.
      const v128_t alpha = wasm_i32x4_splat(int32_t(0xFF000000u));
      wasm_v128_store(d, wasm_v128_bitselect(wasm_v128_load(d), out, alpha));
    } else {
      // The four pixels' three bytes in a row: 12 bytes, and 4 the next pixels
      // overwrite (their own again).
      const v128_t packed =
          wasm_i8x16_shuffle(out, out, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 12, 13, 14, 15);
      wasm_v128_store(d, packed);
    }
  }

  // 16-bit samples pixel by pixel (PixelByPixel16, render/ToneRow.h): the
  // draws stored as the block's indexes into the grain table.
  static Grain16 GrainOfDraws16(const int32_t* table, V16 draws) {
    Grain16 g;
    g.values = table;
    wasm_v128_store(g.index, draws);
    return g;
  }
};

constexpr ToneRowSet kRows = MakeToneRows<WasmSimdOps>();

}  // namespace

const ToneRowSet* ToneRowsWasmSimd128() { return &kRows; }

#else

const ToneRowSet* ToneRowsWasmSimd128() { return nullptr; }

#endif
