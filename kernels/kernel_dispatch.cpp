#include "kernels/kernel_dispatch.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace orv::kernels {

namespace {

constexpr std::array kCompiledSets = {
    &kKernelSetC,
#if defined(ORV_KERNELS_X86)
    &kKernelSetMmx,
    &kKernelSetSse2,
    &kKernelSetAvx2,
#endif
};

struct Runnable {
  std::array<const KernelSet*, kCompiledSets.size()> sets{};
  size_t count = 0;
};

Runnable FindRunnable() {
  const SimdLevel cpu = CpuSimdLevel();
  const SimdLevel cap = SimdCapFromText(std::getenv("ORV_SIMD"));
  Runnable runnable;
  for (const KernelSet* set : kCompiledSets) {
    if (set->level <= cpu && set->level <= cap) runnable.sets[runnable.count++] = set;
  }
  return runnable;
}

const Runnable& TheRunnable() {
  static const Runnable runnable = FindRunnable();
  return runnable;
}

const KernelSet* forcedSet = nullptr;

}  // namespace

SimdLevel SimdCapFromText(const char* text) {
  struct Name {
    const char* text;
    SimdLevel level;
  };
  static constexpr Name kNames[] = {{"c", SimdLevel::kC},
                                    {"mmx", SimdLevel::kMmx},
                                    {"sse2", SimdLevel::kSse2},
                                    {"avx2", SimdLevel::kAvx2}};
  if (text != nullptr) {
    for (const Name& name : kNames) {
      if (std::strcmp(text, name.text) == 0) return name.level;
    }
  }
  return SimdLevel::kAvx2;
}

std::span<const KernelSet* const> RunnableKernelSets() {
  const Runnable& runnable = TheRunnable();
  return {runnable.sets.data(), runnable.count};
}

const KernelSet& ActiveKernelSet() {
  if (forcedSet != nullptr) return *forcedSet;
  static const KernelSet* const chosen = RunnableKernelSets().back();
  return *chosen;
}

void UseKernelSet(const KernelSet* set) { forcedSet = set; }

}  // namespace orv::kernels
