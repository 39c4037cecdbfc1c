// The MMX set: the two mixes, 8 bytes per step in four 16-bit lanes, for
// processors that have MMX and nothing newer. Compiled with -mmmx only. (On x86-64 the
// compiler carries these intrinsics out in SSE registers, which every 64-bit
// processor has; the 32-bit build uses the MMX registers themselves.)
#include <mmintrin.h>

#include <cstring>

#include "kernels/kernel_set.h"
#include "kernels/row_any.h"

namespace orv::kernels {

namespace {

__m64 Load64(const uint8_t* p) {
  __m64 v;
  std::memcpy(&v, p, 8);
  return v;
}

void Store64(uint8_t* p, __m64 v) { std::memcpy(p, &v, 8); }

// Whole steps of 8 bytes. Per lane t = (a << 8) + (b - a) * w with the low 16 bits of the product
// and a wrapping add: the true value is at most 65280, so it comes out exact. Low lanes hold bytes
// 0, 2, 4, 6 (out t >> 8), high lanes bytes 1, 3, 5, 7 (a << 8 is the byte in place; out t &
// 0xFF00).
void MixBytesMmx(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const __m64 weight = _mm_set1_pi16(static_cast<short>(w));
  const __m64 lowMask = _mm_set1_pi16(0x00FF);
  for (ptrdiff_t i = 0; i < n; i += 8) {
    const __m64 A = Load64(a + i);
    const __m64 B = Load64(b + i);
    const __m64 dl = _mm_sub_pi16(_mm_and_si64(B, lowMask), _mm_and_si64(A, lowMask));
    const __m64 dh = _mm_sub_pi16(_mm_srli_pi16(B, 8), _mm_srli_pi16(A, 8));
    const __m64 tl = _mm_add_pi16(_mm_slli_pi16(A, 8), _mm_mullo_pi16(dl, weight));
    const __m64 th = _mm_add_pi16(_mm_andnot_si64(lowMask, A), _mm_mullo_pi16(dh, weight));
    Store64(out + i, _mm_or_si64(_mm_srli_pi16(tl, 8), _mm_andnot_si64(lowMask, th)));
  }
  _mm_empty();
}

// Whole steps of 4 pixels, one pixel per lane. Each field f (unit u = 1, 32, 1024) comes out as
// a + floor(d * w / 256) with d = b - a, so the pixel is the start pixel's
// fields plus, per field, floor(d * w / 256) * u. The floor is the high half
// of a 16-bit product worth 256 * d * w: (d << 8) * w for field 0, the
// difference in place (32 * d) times 8w for field 1, and the difference in
// place shifted down by 2 (256 * d) times w for field 2. Every product and
// sum stays within 16 bits.
void Mix555Mmx(const uint8_t* a, const uint8_t* b, uint8_t* out, ptrdiff_t n, uint32_t w) {
  const __m64 weight = _mm_set1_pi16(static_cast<short>(w));
  const __m64 weight8 = _mm_set1_pi16(static_cast<short>(w * 8));
  const __m64 fields = _mm_set1_pi16(0x7FFF);
  const __m64 m0 = _mm_set1_pi16(0x001F);
  const __m64 m1 = _mm_set1_pi16(0x03E0);
  const __m64 m2 = _mm_set1_pi16(0x7C00);
  for (ptrdiff_t i = 0; i < n; i += 4) {
    const __m64 A = Load64(a + 2 * i);
    const __m64 B = Load64(b + 2 * i);
    const __m64 d0 = _mm_slli_pi16(_mm_sub_pi16(_mm_and_si64(B, m0), _mm_and_si64(A, m0)), 8);
    const __m64 d1 = _mm_sub_pi16(_mm_and_si64(B, m1), _mm_and_si64(A, m1));
    const __m64 d2 = _mm_srai_pi16(_mm_sub_pi16(_mm_and_si64(B, m2), _mm_and_si64(A, m2)), 2);
    const __m64 e0 = _mm_mulhi_pi16(d0, weight);
    const __m64 e1 = _mm_slli_pi16(_mm_mulhi_pi16(d1, weight8), 5);
    const __m64 e2 = _mm_slli_pi16(_mm_mulhi_pi16(d2, weight), 10);
    const __m64 sum = _mm_add_pi16(_mm_add_pi16(_mm_and_si64(A, fields), e0), _mm_add_pi16(e1, e2));
    Store64(out + 2 * i, sum);
  }
  _mm_empty();
}

}  // namespace

extern const KernelSet kKernelSetMmx = {.name = "mmx",
                                        .mixBytes = RowAny<1, 8, MixBytesMmx, MixBytesC>,
                                        .mix555 = RowAny<2, 4, Mix555Mmx, Mix555C>};

}  // namespace orv::kernels
