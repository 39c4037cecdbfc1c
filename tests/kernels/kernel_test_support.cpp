#include "kernel_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif (defined(__unix__) || defined(__APPLE__)) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kt {

uint64_t Seed() {
  static const uint64_t seed = []() -> uint64_t {
    if (const char* text = std::getenv("ORV_TEST_SEED")) return std::strtoull(text, nullptr, 0);
    return (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
  }();
  return seed;
}

std::string SeedNote() { return "ORV_TEST_SEED=" + std::to_string(Seed()); }

bool Quick() {
  static const bool quick = std::getenv("ORV_TEST_QUICK") != nullptr;
  return quick;
}

int Cases(int normal) { return Quick() ? (normal + 7) / 8 : normal; }

Rng::Rng(uint64_t salt) : engine_(Seed() ^ (salt * 0x9E3779B97F4A7C15ull)) {}

int Rng::Between(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(engine_);
}

void Rng::Fill(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(engine_() >> 56);
}

const char* NameOf(Fence fence) { return fence == Fence::kEnd ? "end fenced" : "start fenced"; }

// The mapping: a fence page, the pages that hold the bytes, a fence page.
GuardedBytes::GuardedBytes(size_t size, Fence touching) : size_(size) {
#if defined(_WIN32)
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  const size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + 2 * page;
  mapping_ = VirtualAlloc(nullptr, mappingSize_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (mapping_ != nullptr) {
    uint8_t* const first = static_cast<uint8_t*>(mapping_) + page;
    DWORD old;
    VirtualProtect(mapping_, page, PAGE_NOACCESS, &old);
    VirtualProtect(first + usable, page, PAGE_NOACCESS, &old);
    data_ = touching == Fence::kStart ? first : first + usable - size;
    return;
  }
#elif (defined(__unix__) || defined(__APPLE__)) && !defined(__EMSCRIPTEN__)
  // (WebAssembly's memory has no pages to protect: mprotect there does
  // nothing, so a read past either end goes unseen and the plain buffer
  // serves.)
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t usable = (size + page - 1) / page * page;
  mappingSize_ = usable + 2 * page;
  void* mapping =
      mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping != MAP_FAILED) {
    mapping_ = mapping;
    uint8_t* const first = static_cast<uint8_t*>(mapping_) + page;
    mprotect(mapping_, page, PROT_NONE);
    mprotect(first + usable, page, PROT_NONE);
    data_ = touching == Fence::kStart ? first : first + usable - size;
    return;
  }
#else
  (void)touching;
#endif
  fallback_.resize(size + 1);
  data_ = fallback_.data();
}

GuardedBytes::~GuardedBytes() {
#if defined(_WIN32)
  if (mapping_ != nullptr) VirtualFree(mapping_, 0, MEM_RELEASE);
#elif (defined(__unix__) || defined(__APPLE__)) && !defined(__EMSCRIPTEN__)
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
#endif
}

testing::AssertionResult SameBytes(const char* what, const std::vector<uint8_t>& expected,
                                   const uint8_t* actual, ptrdiff_t origin, int32_t rowBytes) {
  size_t first = expected.size();
  size_t count = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      if (count++ == 0) first = i;
    }
  }
  if (count == 0) return testing::AssertionSuccess();
  const ptrdiff_t offset = static_cast<ptrdiff_t>(first) - origin;
  std::string where;
  if (offset < 0) {
    where = std::to_string(-offset) + " bytes before the first row";
  } else if (rowBytes > 0) {
    where =
        "row " + std::to_string(offset / rowBytes) + ", byte " + std::to_string(offset % rowBytes);
  } else {
    where = "byte " + std::to_string(offset);
  }
  char values[64];
  std::snprintf(values, sizeof values, "expected 0x%02X, got 0x%02X", expected[first],
                actual[first]);
  return testing::AssertionFailure() << what << ": first difference at " << where << " (" << values
                                     << "), " << count << " bytes differ; " << SeedNote();
}

void ForEachKernelSet(const std::function<void(const orv::kernels::KernelSet&)>& body) {
  struct Restore {
    ~Restore() { orv::kernels::UseKernelSet(nullptr); }
  } restore;
  for (const orv::kernels::KernelSet* set : orv::kernels::RunnableKernelSets()) {
    orv::kernels::UseKernelSet(set);
    body(*set);
  }
}

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace kt
