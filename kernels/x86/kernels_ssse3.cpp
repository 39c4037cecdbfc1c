// The SSSE3 set: the byte mix as one multiply-add per byte pair, the 5-5-5
// mix with two blue-and-red multiply-adds per step, the tint of 3- and 4-byte
// pixels through multiply-adds and byte shuffles, and 8 x 8 register
// transposes for 3-byte pixels. The 2- and 4-byte transpositions and the
// 5-5-5 tint are the SSE2 set's: nothing here does them faster. Compiled
// with -mssse3.
#include <tmmintrin.h>

#include <cstring>

#include "kernels/kernel_set.h"
#include "kernels/row_any.h"
#include "kernels/tint_third.h"
#include "kernels/transpose_tiles.h"

namespace orv::kernels {

namespace {

__m128i Load128(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

void Store128(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// out = a + ((b - a) * w >> 8), exactly (a * (256 - w) + b * w) >> 8. Bytes a
// and b side by side meet the signed weight bytes -w and w in one
// multiply-add, which gives (b - a) * w exactly while w fits a signed byte;
// above 128 the same holds from b with 256 - w, and at 128 (which fits no
// signed byte) with half the weight and half the shift. The arithmetic shift
// rounds down, and the sum stays within 0..255, so bytes that wrap give it.
struct MixStep {
  __m128i weights;  // the byte pair (-w, w), (256 - w, w - 256) or (-64, 64), repeated
  __m128i shift;    // 8, or 7 at w = 128
  bool fromB;       // whether b, not a, is the base the change is added to
};

MixStep MixStepFor(uint32_t w) {
  const int lowWeight = w < 128 ? -static_cast<int>(w) : w > 128 ? 256 - static_cast<int>(w) : -64;
  const uint16_t pair = static_cast<uint16_t>(static_cast<uint8_t>(lowWeight) |
                                              static_cast<uint8_t>(-lowWeight) << 8);
  return {_mm_set1_epi16(static_cast<short>(pair)), _mm_cvtsi32_si128(w == 128 ? 7 : 8), w > 128};
}

template <bool kFromB>
__m128i MixBytes16(__m128i A, __m128i B, const MixStep& step) {
  const __m128i low = _mm_maddubs_epi16(_mm_unpacklo_epi8(A, B), step.weights);
  const __m128i high = _mm_maddubs_epi16(_mm_unpackhi_epi8(A, B), step.weights);
  const __m128i change =
      _mm_packs_epi16(_mm_sra_epi16(low, step.shift), _mm_sra_epi16(high, step.shift));
  return _mm_add_epi8(kFromB ? B : A, change);
}

// Whole steps of 16 bytes, two at a time where it can.
template <bool kFromB>
void MixBytesFrom(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n,
                  const MixStep& step) {
  ptrdiff_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m128i r0 = MixBytes16<kFromB>(Load128(a + i), Load128(b + i), step);
    const __m128i r1 = MixBytes16<kFromB>(Load128(a + i + 16), Load128(b + i + 16), step);
    Store128(out + i, r0);
    Store128(out + i + 16, r1);
  }
  if (i < n) Store128(out + i, MixBytes16<kFromB>(Load128(a + i), Load128(b + i), step));
}

void MixBytesSsse3(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  if (w == 0 || w == 256) {  // one frame as it is
    std::memcpy(out, w == 0 ? a : b, static_cast<size_t>(n));
    return;
  }
  const MixStep step = MixStepFor(w);
  if (step.fromB) {
    MixBytesFrom<true>(a, b, out, n, step);
  } else {
    MixBytesFrom<false>(a, b, out, n, step);
  }
}

// One pixel per lane, each field f to a_f + floor((b_f - a_f) * w / 256),
// 1 <= w <= 255: the AVX2 set's arithmetic on 8 pixels. Masked with 0x7C1F a
// pixel holds blue in byte 0 and red << 2 in byte 1, so one byte-wise
// subtraction gives both differences and one multiply-add each scales them;
// green, across the byte boundary, takes a 16-bit difference and a mulhi.
__m128i Mix555x8(__m128i A, __m128i B, __m128i weightLow, __m128i weightHigh, __m128i weight8) {
  const __m128i blueRed = _mm_set1_epi16(0x7C1F);
  const __m128i green = _mm_set1_epi16(0x03E0);
  const __m128i aBlueRed = _mm_and_si128(A, blueRed);
  const __m128i aGreen = _mm_and_si128(A, green);
  const __m128i dBlueRed = _mm_sub_epi8(_mm_and_si128(B, blueRed), aBlueRed);
  const __m128i dGreen = _mm_sub_epi16(_mm_and_si128(B, green), aGreen);
  const __m128i eBlue = _mm_srai_epi16(_mm_maddubs_epi16(weightLow, dBlueRed), 8);
  const __m128i eRed = _mm_and_si128(_mm_maddubs_epi16(weightHigh, dBlueRed),
                                     _mm_set1_epi16(static_cast<short>(0xFC00)));
  const __m128i eGreen = _mm_slli_epi16(_mm_mulhi_epi16(dGreen, weight8), 5);
  const __m128i start = _mm_or_si128(aBlueRed, aGreen);
  return _mm_add_epi16(_mm_add_epi16(start, eBlue), _mm_add_epi16(eGreen, eRed));
}

// Whole steps of 8 pixels, two at a time where it can. A weight of 256 fits
// no byte: there the end frame is the result.
void Mix555Ssse3(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  if (w >= 256) {
    const __m128i low15 = _mm_set1_epi16(0x7FFF);
    for (ptrdiff_t i = 0; i < n; i += 8) {
      Store128(out + 2 * i, _mm_and_si128(Load128(b + 2 * i), low15));
    }
    return;
  }
  const __m128i weightLow = _mm_set1_epi16(static_cast<short>(w));
  const __m128i weightHigh = _mm_set1_epi16(static_cast<short>(w << 8));
  const __m128i weight8 = _mm_set1_epi16(static_cast<short>(w * 8));
  ptrdiff_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i r0 =
        Mix555x8(Load128(a + 2 * i), Load128(b + 2 * i), weightLow, weightHigh, weight8);
    const __m128i r1 =
        Mix555x8(Load128(a + 2 * i + 16), Load128(b + 2 * i + 16), weightLow, weightHigh, weight8);
    Store128(out + 2 * i, r0);
    Store128(out + 2 * i + 16, r1);
  }
  if (i < n) {
    Store128(out + 2 * i,
             Mix555x8(Load128(a + 2 * i), Load128(b + 2 * i), weightLow, weightHigh, weight8));
  }
}

// Per dword, the grey of bytes 0-2 (the fourth ignored) in byte 2: one
// multiply-add sums the bytes in pairs, the next weighs the pairs by kThird.
__m128i GreysAtByte2(__m128i v) {
  return _mm_madd_epi16(_mm_maddubs_epi16(v, _mm_set1_epi32(0x00010101)), _mm_set1_epi16(kThird));
}

// Whole steps of 4 pixels.
void Tint4Ssse3(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m128i spread = _mm_setr_epi8(2, 2, 2, -1, 6, 6, 6, -1, 10, 10, 10, -1, 14, 14, 14, -1);
  const __m128i keeps = _mm_set1_epi32(static_cast<int>(keep));
  const __m128i fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (ptrdiff_t i = 0; i < 4 * n; i += 16) {
    const __m128i v = Load128(source + i);
    const __m128i tinted = _mm_and_si128(_mm_shuffle_epi8(GreysAtByte2(v), spread), keeps);
    Store128(destination + i, _mm_or_si128(tinted, _mm_and_si128(v, fourth)));
  }
}

// Whole steps of 16 pixels of 3 bytes: three loads, widened to dwords in
// fours (pixels 4-7 and 8-11 straddle two loads: an alignr first). A
// multiply-add per four gives each pixel's b + g and r, horizontal adds the
// sums, a mulhi by a third the greys, one pack all 16 as bytes; three
// shuffles spread them over the 48 bytes. `keep` is 0 or 0xFF per channel,
// so the spreads zero the channels not kept themselves (index -1).
void Tint3Ssse3(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m128i widenLow = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i widenHigh = _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m128i ones = _mm_set1_epi32(0x00010101);
  const __m128i third = _mm_set1_epi16(kThird);
  // Output byte k (of 48) is grey k / 3.
  alignas(16) uint8_t spread[48];
  for (int k = 0; k < 48; ++k) {
    spread[k] = (keep >> (8 * (k % 3)) & 0xFF) != 0 ? static_cast<uint8_t>(k / 3) : 0x80;
  }
  const __m128i spread0 = Load128(spread);
  const __m128i spread1 = Load128(spread + 16);
  const __m128i spread2 = Load128(spread + 32);
  for (ptrdiff_t i = 0; i < 3 * n; i += 48) {
    const __m128i l0 = Load128(source + i);
    const __m128i l1 = Load128(source + i + 16);
    const __m128i l2 = Load128(source + i + 32);
    const __m128i w0 = _mm_maddubs_epi16(_mm_shuffle_epi8(l0, widenLow), ones);
    const __m128i w1 =
        _mm_maddubs_epi16(_mm_shuffle_epi8(_mm_alignr_epi8(l1, l0, 12), widenLow), ones);
    const __m128i w2 =
        _mm_maddubs_epi16(_mm_shuffle_epi8(_mm_alignr_epi8(l2, l1, 8), widenLow), ones);
    const __m128i w3 = _mm_maddubs_epi16(_mm_shuffle_epi8(l2, widenHigh), ones);
    const __m128i greys = _mm_packus_epi16(_mm_mulhi_epu16(_mm_hadd_epi16(w0, w1), third),
                                           _mm_mulhi_epu16(_mm_hadd_epi16(w2, w3), third));
    Store128(destination + i, _mm_shuffle_epi8(greys, spread0));
    Store128(destination + i + 16, _mm_shuffle_epi8(greys, spread1));
    Store128(destination + i + 32, _mm_shuffle_epi8(greys, spread2));
  }
}

// Four rows of four dwords turned into four columns.
[[gnu::always_inline]] inline void Turn4x4(__m128i* r) {
  const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]);
  const __m128i t1 = _mm_unpackhi_epi32(r[0], r[1]);
  const __m128i t2 = _mm_unpacklo_epi32(r[2], r[3]);
  const __m128i t3 = _mm_unpackhi_epi32(r[2], r[3]);
  r[0] = _mm_unpacklo_epi64(t0, t2);
  r[1] = _mm_unpackhi_epi64(t0, t2);
  r[2] = _mm_unpacklo_epi64(t1, t3);
  r[3] = _mm_unpackhi_epi64(t1, t3);
}

// 8 x 8 pixels of 3 bytes, in two halves of four source columns each. Each
// row's 24 bytes are read as bytes 0-15 (pixels 0-3 in 0-11) and 8-23
// (pixels 4-7 in 4-15), nothing past the block's last pixel; a half's pixels
// are widened to dwords and turned as two 4 x 4 blocks, which leaves each of
// its four columns in two registers (rows 0-3 and 4-7). Those are narrowed
// back and written as exactly 24 bytes: 16, then the last 8.
[[gnu::always_inline]] inline void Block8x8Of3(const uint8_t* src, ptrdiff_t srcStride,
                                               uint8_t* dst, ptrdiff_t dstStride) {
  const __m128i widen[2] = {
      _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1),
      _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1)};
  // A column's pixels from rows 0-3 narrowed into bytes 4-15 (top), those
  // from rows 4-7 into bytes 0-3 and 8-15 (bottom): one alignr of the two is
  // the row's first 16 bytes, bottom's high half its last 8.
  const __m128i narrowTop = _mm_setr_epi8(-1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14);
  const __m128i narrowBottom =
      _mm_setr_epi8(0, 1, 2, 4, -1, -1, -1, -1, 5, 6, 8, 9, 10, 12, 13, 14);
  for (int half = 0; half < 2; ++half) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) {
      r[k] = _mm_shuffle_epi8(Load128(src + k * srcStride + 8 * half), widen[half]);
    }
    Turn4x4(r);
    Turn4x4(r + 4);
    for (int c = 0; c < 4; ++c) {
      uint8_t* row = dst + (4 * half + c) * dstStride;
      const __m128i top = _mm_shuffle_epi8(r[c], narrowTop);
      const __m128i bottom = _mm_shuffle_epi8(r[c + 4], narrowBottom);
      Store128(row, _mm_alignr_epi8(bottom, top, 4));
      _mm_storeh_pi(reinterpret_cast<__m64*>(row + 16), _mm_castsi128_ps(bottom));
    }
  }
}

void Transpose3Ssse3(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                     ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<3, 8, 64, Block8x8Of3>(src, srcStride, dst, dstStride, columns, rows,
                                         Transpose3C);
}

}  // namespace

extern const KernelSet kKernelSetSsse3 = {.name = "ssse3",
                                          .mixBytes = RowAny<1, 16, MixBytesSsse3, MixBytesC>,
                                          .mix555 = RowAny<2, 8, Mix555Ssse3, Mix555C>,
                                          .transpose3 = Transpose3Ssse3,
                                          .tint3 = TintAny<3, 16, Tint3Ssse3, Tint3C>,
                                          .tint4 = TintAny<4, 4, Tint4Ssse3, Tint4C>};

}  // namespace orv::kernels
