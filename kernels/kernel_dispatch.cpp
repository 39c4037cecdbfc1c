#include "kernels/kernel_dispatch.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace orv::kernels {

namespace {

// The portable set and every rung, each rung resolved against the one below.
struct Ladder {
  std::vector<KernelSet> resolved;
  std::vector<const KernelSet*> sets;
  std::vector<bool (*)()> runs;  // null for the portable set, which runs everywhere
};

Ladder BuildLadder() {
  Ladder ladder;
  const std::span<const KernelRung> rungs = ArchitectureRungs();
  ladder.resolved.reserve(rungs.size() + 1);  // no reallocation: `sets` points into it
  ladder.resolved.push_back(kKernelSetC);
  ladder.runs.push_back(nullptr);
  for (const KernelRung& rung : rungs) {
    ladder.resolved.push_back(FillFrom(*rung.set, ladder.resolved.back()));
    ladder.runs.push_back(rung.runs);
  }
  for (const KernelSet& set : ladder.resolved) ladder.sets.push_back(&set);
  return ladder;
}

const Ladder& TheLadder() {
  static const Ladder ladder = BuildLadder();
  return ladder;
}

size_t CountRunnable() {
  const Ladder& ladder = TheLadder();
  size_t count = 1;
  while (count < ladder.sets.size() && ladder.runs[count]()) ++count;
  return count;
}

const KernelSet* forcedSet = nullptr;

}  // namespace

KernelSet FillFrom(const KernelSet& own, const KernelSet& below) {
  KernelSet set = own;
  ForEachKernelSlot([&](auto slot) {
    if (set.*slot == nullptr) set.*slot = below.*slot;
  });
  return set;
}

std::span<const KernelSet* const> CompiledKernelSets() { return TheLadder().sets; }

size_t SimdCapFromText(const char* text) {
  if (text == nullptr) return kNoCap;
  const std::span<const KernelSet* const> sets = CompiledKernelSets();
  for (size_t i = 0; i < sets.size(); ++i) {
    if (std::strcmp(text, sets[i]->name) == 0) return i;
  }
  return kNoCap;
}

size_t SetsTheProcessorRuns() {
  static const size_t count = CountRunnable();
  return count;
}

std::span<const KernelSet* const> RunnableKernelSets() {
  static const size_t count = [] {
    const size_t cap = SimdCapFromText(std::getenv("ORV_SIMD"));
    const size_t runs = SetsTheProcessorRuns();
    return cap < runs ? cap + 1 : runs;
  }();
  return CompiledKernelSets().first(count);
}

const KernelSet& ActiveKernelSet() {
  if (forcedSet != nullptr) return *forcedSet;
  static const KernelSet* const chosen = RunnableKernelSets().back();
  return *chosen;
}

void UseKernelSet(const KernelSet* set) { forcedSet = set; }

}  // namespace orv::kernels
