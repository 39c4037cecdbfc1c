// The buffers the benchmarks run over: cache-line aligned, so that a row's
// cost does not depend on where the allocator put it, and filled with a
// pattern of their own seed, so that two frames always differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace orvbench {

inline constexpr std::align_val_t kCacheLine{64};

struct FreeBytes {
  void operator()(uint8_t* p) const { ::operator delete[](p, kCacheLine); }
};
using Bytes = std::unique_ptr<uint8_t[], FreeBytes>;

inline Bytes Allocate(size_t size, uint8_t seed) {
  Bytes bytes(static_cast<uint8_t*>(::operator new[](size, kCacheLine)));
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + seed);
  return bytes;
}

}  // namespace orvbench
