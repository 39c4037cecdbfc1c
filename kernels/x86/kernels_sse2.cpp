// The SSE2 set: the lane arithmetic of the MMX set on 16 bytes per step,
// 4 x 4 / 8 x 8 register transposes for 4- and 2-byte pixels; as SSE2 has no
// byte shuffle, the 3-byte tint works in 16-bit lanes with shifts and masks
// and the 3-byte turns move pixels 4 bytes at a time. Compiled with -msse2.
#include <emmintrin.h>

#include <cstring>

#include "kernels/kernel_set.h"
#include "kernels/row_any.h"
#include "kernels/tint_third.h"
#include "kernels/transpose_tiles.h"

namespace orv::kernels {

namespace {

__m128i Load128(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

void Store128(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Per 16-bit lane, each byte as the lane's high byte (the odd bytes masked in
// place, the even ones shifted up) is 256 times the byte; an unsigned mulhi
// by (256 - w) << 8 or w << 8 gives a * (256 - w) or b * w exactly, and their
// sum, at most 65280, has the mixed byte in its high byte.
__m128i MixBytes16(__m128i A, __m128i B, __m128i weightA, __m128i weightB) {
  const __m128i highBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i odd = _mm_add_epi16(_mm_mulhi_epu16(_mm_and_si128(A, highBytes), weightA),
                                    _mm_mulhi_epu16(_mm_and_si128(B, highBytes), weightB));
  const __m128i even = _mm_add_epi16(_mm_mulhi_epu16(_mm_slli_epi16(A, 8), weightA),
                                     _mm_mulhi_epu16(_mm_slli_epi16(B, 8), weightB));
  return _mm_or_si128(_mm_srli_epi16(even, 8), _mm_and_si128(odd, highBytes));
}

// Whole steps of 16 bytes, two at a time where it can. A weight of 256 (or
// 0) fits no weight of 8 bits shifted up: one frame as it is.
void MixBytesSse2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  if (w == 0 || w == 256) {
    std::memcpy(out, w == 0 ? a : b, static_cast<size_t>(n));
    return;
  }
  const __m128i weightA = _mm_set1_epi16(static_cast<short>((256 - w) << 8));
  const __m128i weightB = _mm_set1_epi16(static_cast<short>(w << 8));
  ptrdiff_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m128i r0 = MixBytes16(Load128(a + i), Load128(b + i), weightA, weightB);
    const __m128i r1 = MixBytes16(Load128(a + i + 16), Load128(b + i + 16), weightA, weightB);
    Store128(out + i, r0);
    Store128(out + i + 16, r1);
  }
  if (i < n) Store128(out + i, MixBytes16(Load128(a + i), Load128(b + i), weightA, weightB));
}

// One pixel per lane; see the MMX set for the per-field arithmetic.
__m128i Mix555x8(__m128i A, __m128i B, __m128i weight, __m128i weight8) {
  const __m128i m0 = _mm_set1_epi16(0x001F);
  const __m128i m1 = _mm_set1_epi16(0x03E0);
  const __m128i m2 = _mm_set1_epi16(0x7C00);
  const __m128i d0 = _mm_slli_epi16(_mm_sub_epi16(_mm_and_si128(B, m0), _mm_and_si128(A, m0)), 8);
  const __m128i d1 = _mm_sub_epi16(_mm_and_si128(B, m1), _mm_and_si128(A, m1));
  const __m128i d2 = _mm_srai_epi16(_mm_sub_epi16(_mm_and_si128(B, m2), _mm_and_si128(A, m2)), 2);
  const __m128i e0 = _mm_mulhi_epi16(d0, weight);
  const __m128i e1 = _mm_slli_epi16(_mm_mulhi_epi16(d1, weight8), 5);
  const __m128i e2 = _mm_slli_epi16(_mm_mulhi_epi16(d2, weight), 10);
  const __m128i start = _mm_and_si128(A, _mm_set1_epi16(0x7FFF));
  return _mm_add_epi16(_mm_add_epi16(start, e0), _mm_add_epi16(e1, e2));
}

// Whole steps of 8 pixels.
void Mix555Sse2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const __m128i weight = _mm_set1_epi16(static_cast<short>(w));
  const __m128i weight8 = _mm_set1_epi16(static_cast<short>(w * 8));
  for (ptrdiff_t i = 0; i < n; i += 8) {
    Store128(out + 2 * i, Mix555x8(Load128(a + 2 * i), Load128(b + 2 * i), weight, weight8));
  }
}

// Whole steps of 4 pixels. Bytes b and r of each pixel in one lane pair, g
// and the fourth byte in another: one multiply-add each weighs in the
// channels, which leaves the grey in the pixel's upper half; a lane copy and
// a multiply by 0x0101 | 0x0001 << 16, of which only the kept channels' bits,
// spreads it over them.
void Tint4Sse2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i third = _mm_set1_epi16(kThird);
  const __m128i thirdOfFirst = _mm_set1_epi32(kThird);
  const __m128i spread = _mm_set1_epi32(static_cast<int>(0x00010101 & keep));
  const __m128i fourth = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (ptrdiff_t i = 0; i < 4 * n; i += 16) {
    const __m128i v = Load128(source + i);
    const __m128i br = _mm_and_si128(v, lowBytes);
    const __m128i ga = _mm_srli_epi16(v, 8);
    const __m128i weighed =
        _mm_add_epi32(_mm_madd_epi16(br, third), _mm_madd_epi16(ga, thirdOfFirst));
    const __m128i greys = _mm_shufflehi_epi16(_mm_shufflelo_epi16(weighed, 0xF5), 0xF5);
    const __m128i tinted = _mm_mullo_epi16(greys, spread);
    Store128(destination + i, _mm_or_si128(tinted, _mm_and_si128(v, fourth)));
  }
}

// Whole steps of 8 pixels of 5-5-5, a pixel per lane. The grey times 0x0421
// and-ed with `keep` is the grey times 0x0421's bits in the kept fields.
void Tint2Sse2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m128i field = _mm_set1_epi16(31);
  const __m128i third = _mm_set1_epi16(kThird);
  const __m128i spread = _mm_set1_epi16(static_cast<short>(0x0421 & keep));
  for (ptrdiff_t i = 0; i < 2 * n; i += 16) {
    const __m128i v = Load128(source + i);
    const __m128i b = _mm_and_si128(v, field);
    const __m128i g = _mm_and_si128(_mm_srli_epi16(v, 5), field);
    const __m128i r = _mm_and_si128(_mm_srli_epi16(v, 10), field);
    const __m128i grey = _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(b, g), r), third);
    Store128(destination + i, _mm_mullo_epi16(grey, spread));
  }
}

// Five pixels of 3 bytes per step, 15 bytes from a 16-byte load v and the
// load u two bytes further on. In 16-bit lanes v's low bytes are the stream's
// bytes 2m, its high bytes 2m + 1, u's 2m + 2 and 2m + 3: so the sums of three
// bytes from every even and every odd byte come from four masks or shifts and
// three additions, and the pixels start at even byte 0, odd 3, even 6, odd 9
// and even 12 (lanes 0, 1, 3, 4 and 6). A mulhi whose weight is zero in the
// other lanes takes a third of the sums wanted; a mullo spreads each grey
// over the pixel's bytes in its own lane, another over the byte in the lane
// after it. The 16th byte stored is 0, the next step's or the rest's first.
void Tint3Sse2(const uint8_t* source, uint8_t* destination, ptrdiff_t n, uint32_t keep) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i thirdEven = _mm_setr_epi16(kThird, 0, 0, kThird, 0, 0, kThird, 0);
  const __m128i thirdOdd = _mm_setr_epi16(0, kThird, 0, 0, kThird, 0, 0, 0);
  // keep's three bytes repeated, and the spreads' bytes in channels not kept
  // cleared: a byte of 0 or 0xFF times the grey is the grey and-ed with it.
  uint8_t pattern[16];
  for (int k = 0; k < 16; ++k) pattern[k] = static_cast<uint8_t>(keep >> (8 * (k % 3)));
  const __m128i keeps = Load128(pattern);
  const __m128i here =
      _mm_and_si128(_mm_setr_epi16(0x0101, 0x0100, 0, 0x0101, 0x0100, 0, 0x0101, 0), keeps);
  const __m128i next = _mm_and_si128(
      _mm_setr_epi16(0x0001, 0x0101, 0, 0x0001, 0x0101, 0, 0x0001, 0), _mm_srli_si128(keeps, 2));
  ptrdiff_t i = 0;
  for (; i + 6 <= n; i += 5) {
    const __m128i v = Load128(source + 3 * i);
    const __m128i u = Load128(source + 3 * i + 2);
    const __m128i middle = _mm_add_epi16(_mm_srli_epi16(v, 8), _mm_and_si128(u, lowBytes));
    const __m128i fromEven = _mm_add_epi16(_mm_and_si128(v, lowBytes), middle);
    const __m128i fromOdd = _mm_add_epi16(middle, _mm_srli_epi16(u, 8));
    const __m128i greys =
        _mm_add_epi16(_mm_mulhi_epu16(fromEven, thirdEven), _mm_mulhi_epu16(fromOdd, thirdOdd));
    const __m128i spread =
        _mm_or_si128(_mm_mullo_epi16(greys, here), _mm_slli_si128(_mm_mullo_epi16(greys, next), 2));
    Store128(destination + 3 * i, spread);
  }
  Tint3C(source + 3 * i, destination + 3 * i, n - i, keep);
}

// 4 x 4 pixels of 4 bytes: rows r0..r3 in, columns out.
[[gnu::always_inline]] inline void Block4x4(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                            ptrdiff_t dstStride) {
  const __m128i r0 = Load128(src);
  const __m128i r1 = Load128(src + srcStride);
  const __m128i r2 = Load128(src + 2 * srcStride);
  const __m128i r3 = Load128(src + 3 * srcStride);
  const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
  const __m128i t1 = _mm_unpackhi_epi32(r0, r1);
  const __m128i t2 = _mm_unpacklo_epi32(r2, r3);
  const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
  Store128(dst, _mm_unpacklo_epi64(t0, t2));
  Store128(dst + dstStride, _mm_unpackhi_epi64(t0, t2));
  Store128(dst + 2 * dstStride, _mm_unpacklo_epi64(t1, t3));
  Store128(dst + 3 * dstStride, _mm_unpackhi_epi64(t1, t3));
}

// 8 x 8 pixels of 2 bytes.
[[gnu::always_inline]] inline void Block8x8(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                                            ptrdiff_t dstStride) {
  __m128i r[8];
  for (int k = 0; k < 8; ++k) r[k] = Load128(src + k * srcStride);
  __m128i s[8];
  for (int k = 0; k < 4; ++k) {
    s[2 * k] = _mm_unpacklo_epi16(r[2 * k], r[2 * k + 1]);
    s[2 * k + 1] = _mm_unpackhi_epi16(r[2 * k], r[2 * k + 1]);
  }
  // s[0] = a0 b0 a1 b1 a2 b2 a3 b3, s[1] = a4 b4 .. a7 b7, s[2] = c0 d0 .. c3 d3, ...
  __m128i t[8];
  for (int k = 0; k < 2; ++k) {
    t[4 * k + 0] = _mm_unpacklo_epi32(s[4 * k + 0], s[4 * k + 2]);
    t[4 * k + 1] = _mm_unpackhi_epi32(s[4 * k + 0], s[4 * k + 2]);
    t[4 * k + 2] = _mm_unpacklo_epi32(s[4 * k + 1], s[4 * k + 3]);
    t[4 * k + 3] = _mm_unpackhi_epi32(s[4 * k + 1], s[4 * k + 3]);
  }
  // t[0] = a0 b0 c0 d0 a1 b1 c1 d1, t[1] = columns 2, 3, t[2] = 4, 5, t[3] = 6, 7;
  // t[4..7] the same for rows e..h.
  for (int k = 0; k < 4; ++k) {
    Store128(dst + (2 * k) * dstStride, _mm_unpacklo_epi64(t[k], t[k + 4]));
    Store128(dst + (2 * k + 1) * dstStride, _mm_unpackhi_epi64(t[k], t[k + 4]));
  }
}

void Transpose2Sse2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<2, 8, 64, Block8x8>(src, srcStride, dst, dstStride, columns, rows, Transpose2C);
}

void Transpose4Sse2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<4, 4, 64, Block4x4>(src, srcStride, dst, dstStride, columns, rows, Transpose4C);
}

[[gnu::always_inline]] inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

[[gnu::always_inline]] inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// 8 x 8 pixels of 3 bytes by 4-byte moves, a destination row at a time:
// each pixel is read as 4 bytes and written as 4, left to right, so the byte
// written past a pixel is the next one's first, written over right after.
// The last pixel is read one byte early and written as 2 + 1 bytes, so
// nothing outside the block is read or written. Without a byte shuffle this
// beats widening to dwords and narrowing back with shifts and masks, which
// took about 4.4 vector operations a pixel against a load and a store here.
[[gnu::always_inline]] inline void Block8x8Of3(const uint8_t* src, ptrdiff_t srcStride,
                                               uint8_t* dst, ptrdiff_t dstStride) {
  for (int k = 0; k < 8; ++k) {
    const uint8_t* column = src + 3 * k;
    uint8_t* row = dst + k * dstStride;
    for (int r = 0; r < 7; ++r) Store32(row + 3 * r, Load32(column + r * srcStride));
    const uint32_t last = Load32(column + 7 * srcStride - 1) >> 8;
    const uint16_t low = static_cast<uint16_t>(last);
    std::memcpy(row + 21, &low, 2);
    row[23] = static_cast<uint8_t>(last >> 16);
  }
}

void Transpose3Sse2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t columns, ptrdiff_t rows) {
  TransposeBlocks<3, 8, 64, Block8x8Of3>(src, srcStride, dst, dstStride, columns, rows,
                                         Transpose3C);
}

}  // namespace

extern const KernelSet kKernelSetSse2 = {.name = "sse2",
                                         .mixBytes = RowAny<1, 16, MixBytesSse2, MixBytesC>,
                                         .mix555 = RowAny<2, 8, Mix555Sse2, Mix555C>,
                                         .transpose2 = Transpose2Sse2,
                                         .transpose3 = Transpose3Sse2,
                                         .transpose4 = Transpose4Sse2,
                                         .tint2 = TintAny<2, 8, Tint2Sse2, Tint2C>,
                                         .tint3 = Tint3Sse2,
                                         .tint4 = TintAny<4, 4, Tint4Sse2, Tint4C>};

}  // namespace orv::kernels
