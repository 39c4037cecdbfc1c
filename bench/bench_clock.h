// What every group of orvbench measures with: this thread's processor time,
// and a read of a block that the compiler cannot drop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvbench {

// This thread's processor time in seconds: the machine is shared, and time
// spent descheduled would otherwise land on whichever job was running.
inline double Now() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
#else
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// Reads n bytes, as a mix reads its second frame; the result keeps the
// reads. 16 bytes per load where SSE2 is at hand, so that the read costs what
// the memory costs and not what a narrow loop costs.
inline uint64_t ReadBytes(const uint8_t* p, size_t n) {
  size_t i = 0;
  uint64_t sum = 0;
#if defined(__SSE2__)
  __m128i acc[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(),
                    _mm_setzero_si128()};
  for (; i + 64 <= n; i += 64) {
    for (int k = 0; k < 4; ++k)
      acc[k] =
          _mm_xor_si128(acc[k], _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16 * k)));
  }
  const __m128i all = _mm_xor_si128(_mm_xor_si128(acc[0], acc[1]), _mm_xor_si128(acc[2], acc[3]));
  alignas(16) uint64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), all);
  sum = lanes[0] ^ lanes[1];
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    sum ^= word;
  }
  for (; i < n; ++i) sum ^= p[i];
  return sum;
}

}  // namespace orvbench
