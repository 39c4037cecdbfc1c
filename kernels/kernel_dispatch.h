// The one place that chooses the kernel set. The sets form a ladder: the
// portable set, then the SIMD sets of this processor architecture, lowest
// first (ArchitectureRungs). Each rung takes the kernels it leaves empty from
// the rung below it in the ladder, resolved once here. The kernels run with
// the highest rung that the processor runs, with every rung below it, and
// that the environment variable ORV_SIMD allows, for ruling a suspect set
// out: ORV_SIMD names the highest set to use ("c", "mmx", ...), or, after a
// minus, one set to leave out ("-ssse3"), the rungs above it then filled from
// the next one below. Chosen once, on first use.
// Tests and benchmarks walk the runnable sets and select each in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "kernels/kernel_set.h"

namespace orv::kernels {

// A processor test, built without SIMD flags.
using ProcessorTest = bool (*)();

// One rung of an architecture's ladder: a set as its file defines it, and
// the processor test for it.
struct KernelRung {
  const KernelSet* set;
  ProcessorTest runs;
};

// This architecture's SIMD rungs, lowest first; none where there are no SIMD
// sets. Each architecture defines it in its own folder.
std::span<const KernelRung> ArchitectureRungs();

// This architecture's test for MMX; null where its processors have no MMX.
// Each architecture defines it in its own folder; pixel_kernels.h says what
// each answer gives.
ProcessorTest ArchitectureMmxTest();

// Every slot of a kernel set, written once here: FillFrom and the tests walk
// these lists, and the pixel-size slots are picked by index (bytes per pixel
// less 2), so a slot added to KernelSet and here is never missed.
template <class Fn>
using KernelSlot = Fn KernelSet::*;
inline constexpr KernelSlot<MixBytesFn> kMixSlots[] = {&KernelSet::mixBytes, &KernelSet::mix555};
inline constexpr KernelSlot<TransposeFn> kTransposeSlots[] = {
    &KernelSet::transpose2, &KernelSet::transpose3, &KernelSet::transpose4};
inline constexpr KernelSlot<TintFn> kTintSlots[] = {&KernelSet::tint2, &KernelSet::tint3,
                                                    &KernelSet::tint4};
inline constexpr size_t kSlotCount =
    std::size(kMixSlots) + std::size(kTransposeSlots) + std::size(kTintSlots);
// A slot missing from the lists would leave the record larger than this.
static_assert(sizeof(KernelSet) == sizeof(const char*) + kSlotCount * sizeof(MixBytesFn),
              "every slot of KernelSet is in one of the lists above");

// Calls visit(slot) for every slot of the lists above.
template <class Visit>
constexpr void ForEachKernelSlot(Visit&& visit) {
  for (const auto slot : kMixSlots) visit(slot);
  for (const auto slot : kTransposeSlots) visit(slot);
  for (const auto slot : kTintSlots) visit(slot);
}

// The slot of one pixel size (2, 3 or 4 bytes) in `set`; null for others.
template <class Fn, size_t kCount>
Fn SlotForPixelSize(const KernelSet& set, const KernelSlot<Fn> (&slots)[kCount],
                    int32_t bytesPerPixel) {
  const auto index = static_cast<size_t>(bytesPerPixel) - 2;
  return index < kCount ? set.*slots[index] : nullptr;
}

// `own` with its empty slots filled from `below`.
KernelSet FillFrom(const KernelSet& own, const KernelSet& below);

// What an ORV_SIMD text asks, by position among the compiled sets (the
// portable set at 0, then ArchitectureRungs): a cap, the highest set to use,
// by its name; or a SIMD set to leave out, by its name after a minus. Null,
// or any other text ("-c" too: the portable set cannot be left out), asks
// for nothing, and the processor chooses.
inline constexpr size_t kNone = SIZE_MAX;
struct SimdChoice {
  size_t cap = kNone;
  size_t leftOut = kNone;
};
SimdChoice SimdChoiceFromText(const char* text);

// How many of the compiled sets, from the bottom, the processor runs (each
// with all below it); at least 1, the portable set.
size_t SetsTheProcessorRuns();

// The ladder a choice gives: the compiled sets less the one it leaves out,
// each resolved against the set below it here, so that the rungs above a set
// left out fill their empty slots from the next one still in; and, from the
// bottom, the sets that run: those the processor runs, up to the cap.
class KernelLadder {
 public:
  explicit KernelLadder(SimdChoice choice);
  KernelLadder(const KernelLadder&) = delete;
  KernelLadder& operator=(const KernelLadder&) = delete;

  // Every set in, resolved, lowest first; the portable set first.
  std::span<const KernelSet* const> Sets() const { return sets_; }
  // The sets that run: the first of Sets(), at least the portable set.
  std::span<const KernelSet* const> Runnable() const { return Sets().first(runnable_); }
  // The resolved set below the one `own` gives (a set as its file defines
  // it), which fills its empty slots; the portable set where there is none
  // below or `own` is not in.
  const KernelSet& Below(const KernelSet& own) const;

 private:
  std::vector<KernelSet> resolved_;
  std::vector<const KernelSet*> own_;   // each entry as its file defines it
  std::vector<const KernelSet*> sets_;  // into resolved_
  size_t runnable_ = 1;
};

// Every set compiled in, resolved, lowest first: the ladder that leaves
// nothing out.
std::span<const KernelSet* const> CompiledKernelSets();

// The ladder of ORV_SIMD's choice, the one the kernels run with.
const KernelLadder& ActiveKernelLadder();

// Its sets that run, lowest first.
std::span<const KernelSet* const> RunnableKernelSets();

// The set every kernel of pixel_kernels.h runs with.
const KernelSet& ActiveKernelSet();

// Runs the kernels with `set` from now on; nullptr returns to the choice above.
void UseKernelSet(const KernelSet* set);

}  // namespace orv::kernels
