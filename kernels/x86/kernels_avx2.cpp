// The AVX2 set: the two mixes and the tint, 32 bytes per step, 8 x 8 register transposes for
// 4- and 3-byte pixels and 16 x 8 ones for 2-byte pixels. Compiled with -mavx2.
#include <immintrin.h>

#include <cstring>

#include "kernels/kernel_set.h"
#include "kernels/row_any.h"
#include "kernels/tint_third.h"
#include "kernels/transpose_tiles.h"

namespace orv::kernels {

extern const KernelSet kKernelSetAvx2;

namespace {

__m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

void Store256(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// Bytes a and b side by side meet the weight bytes 256 - w and w in one
// multiply-add. The pixel bytes go in as signed (biased by -128), so the sum
// is (256 - w) * a + w * b - 32768, exact in 16 bits; an arithmetic shift by 8
// and the bias back give (a * (256 - w) + b * w) >> 8. Both weights must fit
// a byte: 1 <= w <= 255.
__m256i MixBytes32(__m256i A, __m256i B, __m256i weights) {
  const __m256i bias = _mm256_set1_epi8(-128);
  const __m256i a = _mm256_xor_si256(A, bias);
  const __m256i b = _mm256_xor_si256(B, bias);
  const __m256i low = _mm256_maddubs_epi16(weights, _mm256_unpacklo_epi8(a, b));
  const __m256i high = _mm256_maddubs_epi16(weights, _mm256_unpackhi_epi8(a, b));
  const __m256i packed = _mm256_packs_epi16(_mm256_srai_epi16(low, 8), _mm256_srai_epi16(high, 8));
  return _mm256_xor_si256(packed, bias);
}

// Whole steps of 32 bytes, two at a time where it can.
void MixBytesAvx2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  if (w == 0 || w == 256) {  // one frame as it is; a weight of 256 fits no byte
    std::memcpy(out, w == 0 ? a : b, static_cast<size_t>(n));
    return;
  }
  const __m256i weights = _mm256_set1_epi16(static_cast<short>(w << 8 | (256 - w)));
  ptrdiff_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i r0 = MixBytes32(Load256(a + i), Load256(b + i), weights);
    const __m256i r1 = MixBytes32(Load256(a + i + 32), Load256(b + i + 32), weights);
    Store256(out + i, r0);
    Store256(out + i + 32, r1);
  }
  if (i < n) Store256(out + i, MixBytes32(Load256(a + i), Load256(b + i), weights));
}

// One pixel per lane, each field f to a_f + floor((b_f - a_f) * w / 256),
// 1 <= w <= 255. Masked with 0x7C1F a pixel holds blue in byte 0 and red << 2
// in byte 1, so one byte-wise subtraction gives both differences without a
// borrow between them, and one multiply-add each, with weight bytes (w, 0)
// and (0, w), scales them: blue's product is whole and shifted down, red's
// is 4 times its own, so clearing the 10 bits below red floors it in place.
// Green, across the byte boundary, takes a 16-bit difference and a mulhi.
__m256i Mix555x16(__m256i A, __m256i B, __m256i weightLow, __m256i weightHigh, __m256i weight8) {
  const __m256i blueRed = _mm256_set1_epi16(0x7C1F);
  const __m256i green = _mm256_set1_epi16(0x03E0);
  const __m256i aBlueRed = _mm256_and_si256(A, blueRed);
  const __m256i aGreen = _mm256_and_si256(A, green);
  const __m256i dBlueRed = _mm256_sub_epi8(_mm256_and_si256(B, blueRed), aBlueRed);
  const __m256i dGreen = _mm256_sub_epi16(_mm256_and_si256(B, green), aGreen);
  const __m256i eBlue = _mm256_srai_epi16(_mm256_maddubs_epi16(weightLow, dBlueRed), 8);
  const __m256i eRed = _mm256_and_si256(_mm256_maddubs_epi16(weightHigh, dBlueRed),
                                        _mm256_set1_epi16(static_cast<short>(0xFC00)));
  const __m256i eGreen = _mm256_slli_epi16(_mm256_mulhi_epi16(dGreen, weight8), 5);
  const __m256i start = _mm256_or_si256(aBlueRed, aGreen);
  return _mm256_add_epi16(_mm256_add_epi16(start, eBlue), _mm256_add_epi16(eGreen, eRed));
}

// Whole steps of 16 pixels, two at a time where it can. A weight of 256 fits
// no byte: there the end frame is the result.
void Mix555Avx2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  if (w >= 256) {
    const __m256i low15 = _mm256_set1_epi16(0x7FFF);
    for (ptrdiff_t i = 0; i < n; i += 16) {
      Store256(out + 2 * i, _mm256_and_si256(Load256(b + 2 * i), low15));
    }
    return;
  }
  const __m256i weightLow = _mm256_set1_epi16(static_cast<short>(w));
  const __m256i weightHigh = _mm256_set1_epi16(static_cast<short>(w << 8));
  const __m256i weight8 = _mm256_set1_epi16(static_cast<short>(w * 8));
  ptrdiff_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i r0 =
        Mix555x16(Load256(a + 2 * i), Load256(b + 2 * i), weightLow, weightHigh, weight8);
    const __m256i r1 =
        Mix555x16(Load256(a + 2 * i + 32), Load256(b + 2 * i + 32), weightLow, weightHigh, weight8);
    Store256(out + 2 * i, r0);
    Store256(out + 2 * i + 32, r1);
  }
  if (i < n) {
    Store256(out + 2 * i,
             Mix555x16(Load256(a + 2 * i), Load256(b + 2 * i), weightLow, weightHigh, weight8));
  }
}

// Per dword, the grey of bytes 0-2 (the fourth ignored) in byte 2: one
// multiply-add sums the bytes in pairs, the next weighs the pairs by kThird.
__m256i GreysAtByte2(__m256i v) {
  const __m256i ones = _mm256_set1_epi32(0x00010101);
  return _mm256_madd_epi16(_mm256_maddubs_epi16(v, ones), _mm256_set1_epi16(kThird));
}

// Whole steps of 8 pixels.
void Tint4Avx2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m256i spread = _mm256_setr_epi8(2, 2, 2, -1, 6, 6, 6, -1, 10, 10, 10, -1, 14, 14, 14, -1,
                                          2, 2, 2, -1, 6, 6, 6, -1, 10, 10, 10, -1, 14, 14, 14, -1);
  const __m256i keeps = _mm256_set1_epi32(static_cast<int>(keep));
  const __m256i fourth = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  for (ptrdiff_t i = 0; i < 4 * n; i += 32) {
    const __m256i v = Load256(source + i);
    const __m256i tinted = _mm256_and_si256(_mm256_shuffle_epi8(GreysAtByte2(v), spread), keeps);
    Store256(destination + i, _mm256_or_si256(tinted, _mm256_and_si256(v, fourth)));
  }
}

// Whole steps of 8 pixels of 3 bytes, widened to dwords as in Block8x8Of3
// and narrowed back into 24 bytes. Each step but the last stores 32 bytes, the
// last 8 of which the next step overwrites.
void Tint3Avx2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m256i widen = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 4, 5,
                                         6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m256i spread = _mm256_setr_epi8(2, 2, 2, 6, 6, 6, 10, 10, 10, 14, 14, 14, -1, -1, -1, -1,
                                          2, 2, 2, 6, 6, 6, 10, 10, 10, 14, 14, 14, -1, -1, -1, -1);
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  // keep's three bytes repeated over 32 bytes: 3-byte pixels from byte 0.
  uint8_t pattern[32];
  for (int k = 0; k < 32; ++k) pattern[k] = static_cast<uint8_t>(keep >> (8 * (k % 3)));
  const __m256i keeps = Load256(pattern);
  const ptrdiff_t bytes = 3 * n;
  for (ptrdiff_t i = 0; i < bytes; i += 24) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 8));
    const __m256i v =
        _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), widen);
    const __m256i greys = _mm256_shuffle_epi8(GreysAtByte2(v), spread);
    const __m256i tinted = _mm256_and_si256(_mm256_permutevar8x32_epi32(greys, gather), keeps);
    if (i + 24 < bytes) {
      Store256(destination + i, tinted);
    } else {
      const __m128i first = _mm256_castsi256_si128(tinted);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), first);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + i + 16),
                       _mm256_extracti128_si256(tinted, 1));
    }
  }
}

// Whole steps of 16 pixels of 5-5-5, a pixel per lane. Masked with 0x7C1F a
// pixel's bytes are blue and red << 2: a multiply-add by (4, 1) gives 4 (b + r),
// and green shifted down by 3 is 4 g, so the lane holds 4 times the sum, at
// most 372. Its third: 4 s * 5462 / 65536 exceeds s / 3 by s / 24576 < 1 / 3.
// The grey times 0x0421 and-ed with `keep` is the grey times 0x0421's bits in
// the kept fields: one multiply by a value the compiler cannot turn into
// shifts, which here cost more than the multiply.
void Tint2Avx2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m256i blueRed = _mm256_set1_epi16(0x7C1F);
  const __m256i green = _mm256_set1_epi16(0x007C);
  const __m256i fours = _mm256_set1_epi16(0x0104);
  const __m256i twelfth = _mm256_set1_epi16(5462);
  const __m256i spread = _mm256_set1_epi16(static_cast<short>(0x0421 & keep));
  for (ptrdiff_t i = 0; i < 2 * n; i += 32) {
    const __m256i v = Load256(source + i);
    const __m256i sums = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_and_si256(v, blueRed), fours),
                                          _mm256_and_si256(_mm256_srli_epi16(v, 3), green));
    Store256(destination + i, _mm256_mullo_epi16(_mm256_mulhi_epu16(sums, twelfth), spread));
  }
}

// 16 bytes of two rows side by side in one register.
[[gnu::always_inline]] inline __m256i LoadPair(const uint8_t* low, const uint8_t* high) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(high));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

// The 4 x 4 dword turn within each 128-bit half of four registers.
[[gnu::always_inline]] inline void Turn4x4Halves(__m256i r[4]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  r[0] = _mm256_unpacklo_epi64(t0, t2);
  r[1] = _mm256_unpackhi_epi64(t0, t2);
  r[2] = _mm256_unpacklo_epi64(t1, t3);
  r[3] = _mm256_unpackhi_epi64(t1, t3);
}

// Eight rows of eight dwords turned into eight columns. Within each 128-bit
// half the usual 4 x 4 unpack steps run; the halves then hold columns 0-3 and
// 4-7 and are paired up. Inlined, so that the rows stay in registers (written
// out stage by stage: so the compiler keeps them there).
[[gnu::always_inline]] inline void Turn8x8(__m256i r[8]) {
  __m256i t[8];
  for (int k = 0; k < 4; ++k) {
    t[2 * k] = _mm256_unpacklo_epi32(r[2 * k], r[2 * k + 1]);
    t[2 * k + 1] = _mm256_unpackhi_epi32(r[2 * k], r[2 * k + 1]);
  }
  __m256i u[8];
  for (int k = 0; k < 2; ++k) {
    u[4 * k + 0] = _mm256_unpacklo_epi64(t[4 * k + 0], t[4 * k + 2]);
    u[4 * k + 1] = _mm256_unpackhi_epi64(t[4 * k + 0], t[4 * k + 2]);
    u[4 * k + 2] = _mm256_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
    u[4 * k + 3] = _mm256_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
  }
  // u[c] holds rows 0-3 of columns c and c + 4, u[c + 4] rows 4-7 of them.
  for (int c = 0; c < 4; ++c) {
    r[c] = _mm256_permute2x128_si256(u[c], u[c + 4], 0x20);
    r[c + 4] = _mm256_permute2x128_si256(u[c], u[c + 4], 0x31);
  }
}

[[gnu::always_inline]] inline void Block8x8(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                            ptrdiff_t dstStride) {
  __m256i r[8];
  for (int k = 0; k < 8; ++k) r[k] = Load256(src + k * srcStride);
  Turn8x8(r);
  for (int k = 0; k < 8; ++k) Store256(dst + k * dstStride, r[k]);
}

// 8 x 8 pixels of 3 bytes. Bytes 0-15 and 8-23 of rows k and k + 4 (nothing
// past the block's last pixel) are loaded side by side and widened to dwords,
// pixels 0-3 and 4-7, so that the turn within the halves is the whole turn;
// each destination row is narrowed back into 24 bytes and stored by a masked
// store that leaves the bytes after them alone.
[[gnu::always_inline]] inline void Block8x8Of3(const uint8_t* src, ptrdiff_t srcStride,
                                               uint8_t* dst, ptrdiff_t dstStride) {
  const __m256i widenLeft = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                             0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i widenRight =
      _mm256_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1, 4, 5, 6, -1, 7, 8,
                       9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m256i narrow = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  __m256i left[4], right[4];
  for (int k = 0; k < 4; ++k) {
    const uint8_t* row = src + k * srcStride;
    left[k] = _mm256_shuffle_epi8(LoadPair(row, row + 4 * srcStride), widenLeft);
    right[k] = _mm256_shuffle_epi8(LoadPair(row + 8, row + 4 * srcStride + 8), widenRight);
  }
  Turn4x4Halves(left);
  Turn4x4Halves(right);
  const __m256i first24 = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);  // dwords 0-5
  auto store = [&](uint8_t* to, __m256i v) {
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, narrow), gather);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(to), first24, packed);
  };
  for (int k = 0; k < 4; ++k) {
    store(dst + k * dstStride, left[k]);
    store(dst + (k + 4) * dstStride, right[k]);
  }
}

// 16 x 8 pixels of 2 bytes: source rows k and k + 8 side by side, so that
// the SSE2 set's 8 x 8 turn within each 128-bit half turns both at once and
// leaves destination row c whole, its 16 pixels (32 bytes) in one register.
[[gnu::always_inline]] inline void Block16x8Of2(const uint8_t* src, ptrdiff_t srcStride,
                                                uint8_t* dst, ptrdiff_t dstStride) {
  __m256i r[8];
  for (int k = 0; k < 8; ++k) r[k] = LoadPair(src + k * srcStride, src + (k + 8) * srcStride);
  __m256i s[8];
  for (int k = 0; k < 4; ++k) {
    s[2 * k] = _mm256_unpacklo_epi16(r[2 * k], r[2 * k + 1]);
    s[2 * k + 1] = _mm256_unpackhi_epi16(r[2 * k], r[2 * k + 1]);
  }
  __m256i t[8];
  for (int k = 0; k < 2; ++k) {
    t[4 * k + 0] = _mm256_unpacklo_epi32(s[4 * k + 0], s[4 * k + 2]);
    t[4 * k + 1] = _mm256_unpackhi_epi32(s[4 * k + 0], s[4 * k + 2]);
    t[4 * k + 2] = _mm256_unpacklo_epi32(s[4 * k + 1], s[4 * k + 3]);
    t[4 * k + 3] = _mm256_unpackhi_epi32(s[4 * k + 1], s[4 * k + 3]);
  }
  for (int k = 0; k < 4; ++k) {
    Store256(dst + (2 * k) * dstStride, _mm256_unpacklo_epi64(t[k], t[k + 4]));
    Store256(dst + (2 * k + 1) * dstStride, _mm256_unpackhi_epi64(t[k], t[k + 4]));
  }
}

// Blocks of 16 source rows by 8 columns. An edge up to 15 rows deep goes to
// the set below rather than to the portable form: its smaller blocks (SSE2's
// 8 x 8, where it is in) still take most of it.
void Transpose2Avx2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<2, 8, 64, Block16x8Of2, 16>(src, srcStride, dst, dstStride, columns, rows,
                                              SetBelow(kKernelSetAvx2).transpose2);
}

void Transpose3Avx2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<3, 8, 64, Block8x8Of3>(src, srcStride, dst, dstStride, columns, rows,
                                         Transpose3C);
}

void Transpose4Avx2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<4, 8, 64, Block8x8>(src, srcStride, dst, dstStride, columns, rows, Transpose4C);
}

}  // namespace

extern const KernelSet kKernelSetAvx2 = {.name = "avx2",
                                         .mixBytes = RowAny<1, 32, MixBytesAvx2, MixBytesC>,
                                         .mix555 = RowAny<2, 16, Mix555Avx2, Mix555C>,
                                         .transpose2 = Transpose2Avx2,
                                         .transpose3 = Transpose3Avx2,
                                         .transpose4 = Transpose4Avx2,
                                         .tint2 = TintAny<2, 16, Tint2Avx2, Tint2C>,
                                         .tint3 = TintAny<3, 8, Tint3Avx2, Tint3C>,
                                         .tint4 = TintAny<4, 8, Tint4Avx2, Tint4C>};

}  // namespace orv::kernels
