// The SIMD128 set: every slot, on 16 bytes per step. The mixes and tints
// keep each sum exact in its lane (16 bits for the mixes and the 5-5-5
// tint, 32 for the others), so they give the portable forms' bytes; the
// transpositions move 4 x 4 and 8 x 8 register blocks. Row ends and tile
// edges go to the portable forms. Compiled with -msimd128.
#include <wasm_simd128.h>

#include <cstring>

#include "kernels/kernel_set.h"
#include "kernels/row_any.h"
#include "kernels/tint_third.h"
#include "kernels/transpose_tiles.h"

namespace orv::kernels {

namespace {

v128_t Load128(const uint8_t* p) { return wasm_v128_load(p); }

void Store128(uint8_t* p, v128_t v) { wasm_v128_store(p, v); }

// The low 8 bytes of v at p.
void Store64(uint8_t* p, v128_t v) {
  const int64_t low = wasm_i64x2_extract_lane(v, 0);
  std::memcpy(p, &low, 8);
}

// Per 16-bit lane t = (a << 8) + (b - a) * w, exact (0..65280) though the
// product wraps: low bytes give t >> 8, high bytes t & 0xFF00.
v128_t MixBytes16(v128_t A, v128_t B, v128_t weight) {
  const v128_t lowMask = wasm_i16x8_splat(0x00FF);
  const v128_t dl = wasm_i16x8_sub(wasm_v128_and(B, lowMask), wasm_v128_and(A, lowMask));
  const v128_t dh = wasm_i16x8_sub(wasm_u16x8_shr(B, 8), wasm_u16x8_shr(A, 8));
  const v128_t tl = wasm_i16x8_add(wasm_i16x8_shl(A, 8), wasm_i16x8_mul(dl, weight));
  const v128_t th = wasm_i16x8_add(wasm_v128_andnot(A, lowMask), wasm_i16x8_mul(dh, weight));
  return wasm_v128_or(wasm_u16x8_shr(tl, 8), wasm_v128_andnot(th, lowMask));
}

// Whole steps of 16 bytes.
void MixBytesSimd128(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const v128_t weight = wasm_i16x8_splat(static_cast<int16_t>(w));
  for (ptrdiff_t i = 0; i < n; i += 16) {
    Store128(out + i, MixBytes16(Load128(a + i), Load128(b + i), weight));
  }
}

// One 5-bit field per lane, at `shift`: a * 256 + (b - a) * w lies within
// 0..7936, so 16 bits hold it exactly and the arithmetic shift is the
// portable form's.
v128_t MixField(v128_t A, v128_t B, v128_t weight, int shift) {
  const v128_t field = wasm_i16x8_splat(31);
  const v128_t a = wasm_v128_and(wasm_u16x8_shr(A, shift), field);
  const v128_t b = wasm_v128_and(wasm_u16x8_shr(B, shift), field);
  const v128_t t =
      wasm_i16x8_add(wasm_i16x8_shl(a, 8), wasm_i16x8_mul(wasm_i16x8_sub(b, a), weight));
  return wasm_i16x8_shl(wasm_u16x8_shr(t, 8), shift);
}

// Whole steps of 8 pixels, one per lane; bit 15 comes out 0.
void Mix555Simd128(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const v128_t weight = wasm_i16x8_splat(static_cast<int16_t>(w));
  for (ptrdiff_t i = 0; i < n; i += 8) {
    const v128_t A = Load128(a + 2 * i);
    const v128_t B = Load128(b + 2 * i);
    Store128(out + 2 * i,
             wasm_v128_or(wasm_v128_or(MixField(A, B, weight, 0), MixField(A, B, weight, 5)),
                          MixField(A, B, weight, 10)));
  }
}

// Per dword, the grey of bytes 0-2 (the fourth ignored) in bytes 0-2, the
// fourth byte 0.
v128_t GreysOfDwords(v128_t v) {
  const v128_t low = wasm_i32x4_splat(0xFF);
  const v128_t sum = wasm_i32x4_add(
      wasm_i32x4_add(wasm_v128_and(v, low), wasm_v128_and(wasm_u32x4_shr(v, 8), low)),
      wasm_v128_and(wasm_u32x4_shr(v, 16), low));
  const v128_t grey = wasm_u32x4_shr(wasm_i32x4_mul(sum, wasm_i32x4_splat(kThird)), 16);
  return wasm_i32x4_mul(grey, wasm_i32x4_splat(0x010101));
}

// Whole steps of 4 pixels.
void Tint4Simd128(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const v128_t keeps = wasm_i32x4_splat(static_cast<int32_t>(keep));
  const v128_t fourth = wasm_i32x4_splat(static_cast<int32_t>(0xFF000000u));
  for (ptrdiff_t i = 0; i < 4 * n; i += 16) {
    const v128_t v = Load128(source + i);
    Store128(destination + i,
             wasm_v128_or(wasm_v128_and(GreysOfDwords(v), keeps), wasm_v128_and(v, fourth)));
  }
}

// Whole steps of 16 pixels of 3 bytes: three loads of 16 bytes hold them
// exactly. Four groups of 4 pixels are widened to dwords (the fourth byte
// whatever the shuffle brings; it is not summed), greyed and narrowed back
// into three stores.
void Tint3Simd128(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  // keep's three bytes repeated: 16 bytes at each of the three phases.
  uint8_t pattern[48];
  for (int k = 0; k < 48; ++k) pattern[k] = static_cast<uint8_t>(keep >> (8 * (k % 3)));
  const v128_t keeps0 = Load128(pattern);
  const v128_t keeps1 = Load128(pattern + 16);
  const v128_t keeps2 = Load128(pattern + 32);
  for (ptrdiff_t i = 0; i < 3 * n; i += 48) {
    const v128_t v0 = Load128(source + i);
    const v128_t v1 = Load128(source + i + 16);
    const v128_t v2 = Load128(source + i + 32);
    // Bytes 0-11, 12-23, 24-35 and 36-47, a pixel per dword.
    const v128_t g0 =
        GreysOfDwords(wasm_i8x16_shuffle(v0, v0, 0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0));
    const v128_t g1 = GreysOfDwords(
        wasm_i8x16_shuffle(v0, v1, 12, 13, 14, 0, 15, 16, 17, 0, 18, 19, 20, 0, 21, 22, 23, 0));
    const v128_t g2 = GreysOfDwords(
        wasm_i8x16_shuffle(v1, v2, 8, 9, 10, 0, 11, 12, 13, 0, 14, 15, 16, 0, 17, 18, 19, 0));
    const v128_t g3 = GreysOfDwords(
        wasm_i8x16_shuffle(v2, v2, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0, 13, 14, 15, 0));
    const v128_t out0 =
        wasm_i8x16_shuffle(g0, g1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20);
    const v128_t out1 =
        wasm_i8x16_shuffle(g1, g2, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25);
    const v128_t out2 =
        wasm_i8x16_shuffle(g2, g3, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24, 25, 26, 28, 29, 30);
    Store128(destination + i, wasm_v128_and(out0, keeps0));
    Store128(destination + i + 16, wasm_v128_and(out1, keeps1));
    Store128(destination + i + 32, wasm_v128_and(out2, keeps2));
  }
}

// Whole steps of 8 pixels of 5-5-5, a pixel per lane. The sum of the three
// fields is at most 93: sum * 171 >> 9 is sum / 3 for every sum below 512
// and stays within 16 bits.
void Tint2Simd128(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const v128_t field = wasm_i16x8_splat(31);
  const v128_t third = wasm_i16x8_splat(171);
  const v128_t spread = wasm_i16x8_splat(0x0421);
  const v128_t keeps = wasm_i16x8_splat(static_cast<int16_t>(keep));
  for (ptrdiff_t i = 0; i < 2 * n; i += 16) {
    const v128_t v = Load128(source + i);
    const v128_t b = wasm_v128_and(v, field);
    const v128_t g = wasm_v128_and(wasm_u16x8_shr(v, 5), field);
    const v128_t r = wasm_v128_and(wasm_u16x8_shr(v, 10), field);
    const v128_t sum = wasm_i16x8_add(wasm_i16x8_add(b, g), r);
    const v128_t grey = wasm_u16x8_shr(wasm_i16x8_mul(sum, third), 9);
    Store128(destination + i, wasm_v128_and(wasm_i16x8_mul(grey, spread), keeps));
  }
}

// Four rows of four dwords turned into four columns.
[[gnu::always_inline]] inline void Turn4x4(v128_t* r) {
  const v128_t t0 = wasm_i32x4_shuffle(r[0], r[1], 0, 4, 1, 5);
  const v128_t t1 = wasm_i32x4_shuffle(r[0], r[1], 2, 6, 3, 7);
  const v128_t t2 = wasm_i32x4_shuffle(r[2], r[3], 0, 4, 1, 5);
  const v128_t t3 = wasm_i32x4_shuffle(r[2], r[3], 2, 6, 3, 7);
  r[0] = wasm_i64x2_shuffle(t0, t2, 0, 2);
  r[1] = wasm_i64x2_shuffle(t0, t2, 1, 3);
  r[2] = wasm_i64x2_shuffle(t1, t3, 0, 2);
  r[3] = wasm_i64x2_shuffle(t1, t3, 1, 3);
}

// 4 x 4 pixels of 4 bytes.
[[gnu::always_inline]] inline void Block4x4(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                            ptrdiff_t dstStride) {
  v128_t r[4];
  for (int k = 0; k < 4; ++k) r[k] = Load128(src + k * srcStride);
  Turn4x4(r);
  for (int k = 0; k < 4; ++k) Store128(dst + k * dstStride, r[k]);
}

// 8 x 8 pixels of 2 bytes: words, then dwords, then quadwords interleaved.
[[gnu::always_inline]] inline void Block8x8(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                            ptrdiff_t dstStride) {
  v128_t r[8];
  for (int k = 0; k < 8; ++k) r[k] = Load128(src + k * srcStride);
  v128_t s[8];
  for (int k = 0; k < 4; ++k) {
    s[2 * k] = wasm_i16x8_shuffle(r[2 * k], r[2 * k + 1], 0, 8, 1, 9, 2, 10, 3, 11);
    s[2 * k + 1] = wasm_i16x8_shuffle(r[2 * k], r[2 * k + 1], 4, 12, 5, 13, 6, 14, 7, 15);
  }
  // s[0] = a0 b0 a1 b1 a2 b2 a3 b3, s[1] = a4 b4 .. a7 b7, s[2] = c0 d0 .. c3 d3, ...
  v128_t t[8];
  for (int k = 0; k < 2; ++k) {
    t[4 * k + 0] = wasm_i32x4_shuffle(s[4 * k + 0], s[4 * k + 2], 0, 4, 1, 5);
    t[4 * k + 1] = wasm_i32x4_shuffle(s[4 * k + 0], s[4 * k + 2], 2, 6, 3, 7);
    t[4 * k + 2] = wasm_i32x4_shuffle(s[4 * k + 1], s[4 * k + 3], 0, 4, 1, 5);
    t[4 * k + 3] = wasm_i32x4_shuffle(s[4 * k + 1], s[4 * k + 3], 2, 6, 3, 7);
  }
  // t[0] = a0 b0 c0 d0 a1 b1 c1 d1, t[1] = columns 2, 3, t[2] = 4, 5, t[3] = 6, 7;
  // t[4..7] the same for rows e..h.
  for (int k = 0; k < 4; ++k) {
    Store128(dst + (2 * k) * dstStride, wasm_i64x2_shuffle(t[k], t[k + 4], 0, 2));
    Store128(dst + (2 * k + 1) * dstStride, wasm_i64x2_shuffle(t[k], t[k + 4], 1, 3));
  }
}

// 8 x 8 pixels of 3 bytes, in two halves of four source columns each. Each
// row's 24 bytes are read as bytes 0-15 (pixels 0-3 in 0-11) and 8-23
// (pixels 4-7 in 4-15), nothing past the block's last pixel; a half's pixels
// are widened to dwords and turned as two 4 x 4 blocks, which leaves each of
// its four columns in two registers (rows 0-3 and 4-7). Those are narrowed
// back and written as exactly 24 bytes: 16, then the last 8.
[[gnu::always_inline]] inline void Block8x8Of3(const uint8_t* src, ptrdiff_t srcStride,
                                               uint8_t* dst, ptrdiff_t dstStride) {
  for (int half = 0; half < 2; ++half) {
    v128_t r[8];
    for (int k = 0; k < 8; ++k) {
      const v128_t v = Load128(src + k * srcStride + 8 * half);
      r[k] = half == 0
                 ? wasm_i8x16_shuffle(v, v, 0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0)
                 : wasm_i8x16_shuffle(v, v, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0, 13, 14, 15, 0);
    }
    Turn4x4(r);
    Turn4x4(r + 4);
    for (int c = 0; c < 4; ++c) {
      uint8_t* row = dst + (4 * half + c) * dstStride;
      Store128(row, wasm_i8x16_shuffle(r[c], r[c + 4], 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16,
                                       17, 18, 20));
      Store64(row + 16, wasm_i8x16_shuffle(r[c + 4], r[c + 4], 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0,
                                           0, 0, 0, 0, 0));
    }
  }
}

void Transpose2Simd128(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                       ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<2, 8, 64, Block8x8>(src, srcStride, dst, dstStride, columns, rows, Transpose2C);
}

void Transpose3Simd128(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                       ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<3, 8, 64, Block8x8Of3>(src, srcStride, dst, dstStride, columns, rows,
                                         Transpose3C);
}

void Transpose4Simd128(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                       ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<4, 4, 64, Block4x4>(src, srcStride, dst, dstStride, columns, rows, Transpose4C);
}

}  // namespace

extern const KernelSet kKernelSetSimd128 = {.name = "simd128",
                                            .mixBytes = RowAny<1, 16, MixBytesSimd128, MixBytesC>,
                                            .mix555 = RowAny<2, 8, Mix555Simd128, Mix555C>,
                                            .transpose2 = Transpose2Simd128,
                                            .transpose3 = Transpose3Simd128,
                                            .transpose4 = Transpose4Simd128,
                                            .tint2 = TintAny<2, 8, Tint2Simd128, Tint2C>,
                                            .tint3 = TintAny<3, 16, Tint3Simd128, Tint3C>,
                                            .tint4 = TintAny<4, 4, Tint4Simd128, Tint4C>};

}  // namespace orv::kernels
