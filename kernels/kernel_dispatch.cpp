#include "kernels/kernel_dispatch.h"

#include <cstdlib>
#include <cstring>

namespace orv::kernels {

namespace {

size_t CountRunnable() {
  const std::span<const KernelRung> rungs = ArchitectureRungs();
  size_t count = 1;
  while (count <= rungs.size() && rungs[count - 1].runs()) ++count;
  return count;
}

// A set's position among the compiled sets by its name; kNone for no set's.
size_t PositionOf(const char* name) {
  if (std::strcmp(name, kKernelSetC.name) == 0) return 0;
  const std::span<const KernelRung> rungs = ArchitectureRungs();
  for (size_t i = 0; i < rungs.size(); ++i) {
    if (std::strcmp(name, rungs[i].set->name) == 0) return i + 1;
  }
  return kNone;
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

SimdChoice SimdChoiceFromText(const char* text) {
  if (text == nullptr) return {};
  if (text[0] != '-') return {.cap = PositionOf(text)};
  const size_t position = PositionOf(text + 1);
  return position != kNone && position > 0 ? SimdChoice{.leftOut = position} : SimdChoice{};
}

size_t SetsTheProcessorRuns() {
  static const size_t count = CountRunnable();
  return count;
}

KernelLadder::KernelLadder(SimdChoice choice) {
  const std::span<const KernelRung> rungs = ArchitectureRungs();
  const size_t runs = SetsTheProcessorRuns();
  const size_t end = choice.cap < runs ? choice.cap + 1 : runs;  // the positions that run
  resolved_.reserve(rungs.size() + 1);  // no reallocation: sets_ points into it
  resolved_.push_back(kKernelSetC);
  own_.push_back(&kKernelSetC);
  for (size_t position = 1; position <= rungs.size(); ++position) {
    if (position == choice.leftOut) continue;
    const KernelSet& own = *rungs[position - 1].set;
    resolved_.push_back(FillFrom(own, resolved_.back()));
    own_.push_back(&own);
    if (position < end) ++runnable_;
  }
  for (const KernelSet& set : resolved_) sets_.push_back(&set);
}

const KernelSet& KernelLadder::Below(const KernelSet& own) const {
  for (size_t i = 1; i < own_.size(); ++i) {
    if (own_[i] == &own) return *sets_[i - 1];
  }
  return kKernelSetC;
}

std::span<const KernelSet* const> CompiledKernelSets() {
  static const KernelLadder whole(SimdChoice{});
  return whole.Sets();
}

const KernelLadder& ActiveKernelLadder() {
  static const KernelLadder ladder(SimdChoiceFromText(std::getenv("ORV_SIMD")));
  return ladder;
}

std::span<const KernelSet* const> RunnableKernelSets() { return ActiveKernelLadder().Runnable(); }

const KernelSet& SetBelow(const KernelSet& own) { return ActiveKernelLadder().Below(own); }

const KernelSet& ActiveKernelSet() {
  if (forcedSet != nullptr) return *forcedSet;
  static const KernelSet* const chosen = RunnableKernelSets().back();
  return *chosen;
}

void UseKernelSet(const KernelSet* set) { forcedSet = set; }

}  // namespace orv::kernels
