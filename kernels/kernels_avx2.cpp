// AVX2 row primitives: the lane arithmetic of the MMX set on 32 bytes per
// step, and 8 x 8 register transposes for 4-byte pixels. Compiled with -mavx2.
#include <immintrin.h>

#include "kernels/kernel_set.h"
#include "kernels/transpose_tiles.h"

namespace orv::kernels {

namespace {

__m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

void Store256(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// Per 16-bit lane t = (a << 8) + (b - a) * w (exact, at most 65280); low lanes
// give t >> 8, high lanes t & 0xFF00.
__m256i MixBytes32(__m256i A, __m256i B, __m256i weight) {
  const __m256i lowMask = _mm256_set1_epi16(0x00FF);
  const __m256i dl = _mm256_sub_epi16(_mm256_and_si256(B, lowMask), _mm256_and_si256(A, lowMask));
  const __m256i dh = _mm256_sub_epi16(_mm256_srli_epi16(B, 8), _mm256_srli_epi16(A, 8));
  const __m256i tl = _mm256_add_epi16(_mm256_slli_epi16(A, 8), _mm256_mullo_epi16(dl, weight));
  const __m256i th =
      _mm256_add_epi16(_mm256_andnot_si256(lowMask, A), _mm256_mullo_epi16(dh, weight));
  return _mm256_or_si256(_mm256_srli_epi16(tl, 8), _mm256_andnot_si256(lowMask, th));
}

void MixBytesAvx2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const __m256i weight = _mm256_set1_epi16(static_cast<short>(w));
  ptrdiff_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i r0 = MixBytes32(Load256(a + i), Load256(b + i), weight);
    const __m256i r1 = MixBytes32(Load256(a + i + 32), Load256(b + i + 32), weight);
    Store256(out + i, r0);
    Store256(out + i + 32, r1);
  }
  if (i + 32 <= n) {
    Store256(out + i, MixBytes32(Load256(a + i), Load256(b + i), weight));
    i += 32;
  }
  MixBytesC(a + i, b + i, out + i, n - i, w);
}

// One pixel per lane; see the MMX set for the per-field scaling.
__m256i Mix555x16(__m256i A, __m256i B, __m256i weight) {
  const __m256i m0 = _mm256_set1_epi16(0x001F);
  const __m256i m1 = _mm256_set1_epi16(0x03E0);
  const __m256i m2 = _mm256_set1_epi16(0x7C00);
  const __m256i a0 = _mm256_and_si256(A, m0);
  const __m256i a1 = _mm256_and_si256(A, m1);
  const __m256i a2 = _mm256_and_si256(A, m2);
  const __m256i d0 = _mm256_sub_epi16(_mm256_and_si256(B, m0), a0);
  const __m256i d1 = _mm256_srai_epi16(_mm256_sub_epi16(_mm256_and_si256(B, m1), a1), 5);
  const __m256i d2 = _mm256_srai_epi16(_mm256_sub_epi16(_mm256_and_si256(B, m2), a2), 8);
  const __m256i t0 = _mm256_add_epi16(_mm256_slli_epi16(a0, 8), _mm256_mullo_epi16(d0, weight));
  const __m256i t1 = _mm256_add_epi16(_mm256_slli_epi16(a1, 3), _mm256_mullo_epi16(d1, weight));
  const __m256i t2 = _mm256_add_epi16(a2, _mm256_mullo_epi16(d2, weight));
  const __m256i o0 = _mm256_srli_epi16(t0, 8);
  const __m256i o1 = _mm256_and_si256(_mm256_srli_epi16(t1, 3), m1);
  const __m256i o2 = _mm256_and_si256(t2, m2);
  return _mm256_or_si256(_mm256_or_si256(o0, o1), o2);
}

void Mix555Avx2(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const __m256i weight = _mm256_set1_epi16(static_cast<short>(w));
  ptrdiff_t i = 0;
  for (; i + 16 <= n; i += 16) {
    Store256(out + 2 * i, Mix555x16(Load256(a + 2 * i), Load256(b + 2 * i), weight));
  }
  Mix555C(a + 2 * i, b + 2 * i, out + 2 * i, n - i, w);
}

// 8 x 8 pixels of 4 bytes. Within each 128-bit half the usual 4 x 4 unpack
// steps run; the halves then hold columns 0-3 and 4-7 and are paired up.
void Block8x8(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride) {
  __m256i r[8];
  for (int k = 0; k < 8; ++k) r[k] = Load256(src + k * srcStride);
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
    Store256(dst + c * dstStride, _mm256_permute2x128_si256(u[c], u[c + 4], 0x20));
    Store256(dst + (c + 4) * dstStride, _mm256_permute2x128_si256(u[c], u[c + 4], 0x31));
  }
}

void Transpose4Avx2(const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst, ptrdiff_t dstStride,
                    ptrdiff_t rows, ptrdiff_t columns) {
  TransposeBlocks<4, 8, 16, Block8x8>(src, srcStride, dst, dstStride, rows, columns, Transpose4C);
}

}  // namespace

const KernelSet kKernelSetAvx2 = {"avx2",         SimdLevel::kAvx2, MixBytesAvx2,  Mix555Avx2,
                                  Transpose2Sse2, Transpose3C,      Transpose4Avx2};

}  // namespace orv::kernels
