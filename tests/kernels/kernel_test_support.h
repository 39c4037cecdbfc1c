// Shared by the kernel tests and the actors' row walk tests: the seed,
// guarded buffers, comparisons that name the first differing byte and the
// walk over every kernel set.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernels/kernel_dispatch.h"
#include "kernels/pixel_kernels.h"

namespace kt {

// ORV_TEST_SEED when set, else drawn once per run; printed with every failure.
uint64_t Seed();
std::string SeedNote();

// ORV_TEST_QUICK set (e.g. under emulation): fewer random cases.
bool Quick();
int Cases(int normal);

class Rng {
 public:
  // `salt` keeps each test's draws independent of the order tests run in.
  explicit Rng(uint64_t salt);
  int Between(int low, int high);  // inclusive
  void Fill(uint8_t* bytes, size_t count);

 private:
  std::mt19937_64 engine_;
};

// Bytes between two inaccessible pages where the system allows it, so that
// a kernel reading past the end of a buffer, or before its start, faults at
// once. Pages fence whole pages only: the bytes touch one of the two, the
// one after them (kEnd) or the one before them (kStart, which starts them on
// a page boundary), and a test that wants both runs its case against each.
enum class Fence { kEnd, kStart };
inline constexpr Fence kFences[] = {Fence::kEnd, Fence::kStart};
const char* NameOf(Fence fence);

class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size, Fence touching = Fence::kEnd);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  // Unused where there are no pages to protect (WebAssembly).
  [[maybe_unused]] void* mapping_ = nullptr;
  [[maybe_unused]] size_t mappingSize_ = 0;
  std::vector<uint8_t> fallback_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Whole buffers compared; the first difference is named by its offset from
// `origin` and, with rowBytes > 0, by target row and byte within the row.
testing::AssertionResult SameBytes(const char* what, const std::vector<uint8_t>& expected,
                                   const uint8_t* actual, ptrdiff_t origin, int32_t rowBytes);

// Runs `body` under every kernel set this processor runs (within ORV_SIMD),
// then returns the kernels to their automatic choice.
void ForEachKernelSet(const std::function<void(const orv::kernels::KernelSet&)>& body);

uint16_t Load16(const uint8_t* p);
void Store16(uint8_t* p, uint16_t v);
uint32_t Load32(const uint8_t* p);
void Store32(uint8_t* p, uint32_t v);

}  // namespace kt
