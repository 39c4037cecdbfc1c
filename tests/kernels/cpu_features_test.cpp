// The processor test and the ladder of kernel sets: the rules the ladder
// keeps, whatever sets it holds.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "kernel_test_support.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

using namespace orv::kernels;

namespace {

// The two answers about MMX. On x86 both are the processor's, against the
// feature bit as the compiler's own header reads it, and the ladder's MMX
// rung asks the same. Every other build previews the DLL: no MMX form runs
// there, so the processor's answer (the about box's) is no, and the row walks
// draw as on a processor with MMX. This runs in kernels_test, with the
// build's own ladder (WebAssembly's in the wasm leg), and in
// kernels_portable_test, with the portable-only ladder on every target: a
// preview build that drew otherwise than another fails one of them.
TEST(ProcessorTest, MmxAnswers) {
#if defined(ORV_KERNEL_ARCH_X86)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const bool has = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & bit_MMX) != 0;
  ASSERT_NE(ArchitectureMmxTest(), nullptr);
  EXPECT_EQ(ProcessorHasMmx(), has);
  EXPECT_EQ(RowWalksTakeMmx(), has);
#else
  EXPECT_FALSE(ProcessorHasMmx());
  EXPECT_TRUE(RowWalksTakeMmx());
#endif
  for (const KernelRung& rung : ArchitectureRungs()) {
    if (std::string(rung.set->name) == "mmx") {
      EXPECT_EQ(rung.runs, ArchitectureMmxTest());
    }
  }
}

// Whether the processor runs an x86 set, by its name, as the compiler's
// processor query answers (it checks the operating system's register saving
// for the AVX sets too). A set without an answer here fails the test below.
#if defined(__i386__) || defined(__x86_64__)
int CompilerSaysRuns(const std::string& name) {
  __builtin_cpu_init();
  if (name == "mmx") return __builtin_cpu_supports("mmx") ? 1 : 0;
  if (name == "sse2") return __builtin_cpu_supports("sse2") ? 1 : 0;
  if (name == "ssse3") return __builtin_cpu_supports("ssse3") ? 1 : 0;
  if (name == "sse4.1") return __builtin_cpu_supports("sse4.1") ? 1 : 0;
  if (name == "avx") return __builtin_cpu_supports("avx") ? 1 : 0;
  if (name == "avx2") return __builtin_cpu_supports("avx2") ? 1 : 0;
  return -1;
}
#endif

// The processor runs the sets from the portable one up to the first whose
// processor test fails, as the compiler sees it.
TEST(KernelLadder, TheProcessorRunsAPrefix) {
  const auto sets = CompiledKernelSets();
  size_t want = 1;
#if defined(__i386__) || defined(__x86_64__)
  while (want < sets.size()) {
    const int runs = CompilerSaysRuns(sets[want]->name);
    ASSERT_GE(runs, 0) << "no independent answer for set " << sets[want]->name;
    if (runs == 0) break;
    ++want;
  }
#else
  want = sets.size();
#endif
  EXPECT_EQ(SetsTheProcessorRuns(), want);
}

// The portable set first; every set named uniquely and every slot filled,
// whatever the set's own file left empty.
TEST(KernelLadder, EverySetIsWhole) {
  const auto sets = CompiledKernelSets();
  ASSERT_FALSE(sets.empty());
  EXPECT_STREQ(sets.front()->name, "c");
  EXPECT_EQ(sets.front()->mixBytes, MixBytesC);
  std::set<std::string> names;
  for (const KernelSet* set : sets) {
    ASSERT_NE(set->name, nullptr);
    EXPECT_TRUE(names.insert(set->name).second) << set->name;
    size_t index = 0;
    ForEachKernelSlot([&](auto slot) {
      EXPECT_NE(set->*slot, nullptr) << set->name << ", slot " << index;
      ++index;
    });
    EXPECT_EQ(index, kSlotCount);
  }
  EXPECT_EQ(ArchitectureRungs().size() + 1, sets.size());
}

// A slot a set fills is its own; an empty one is the set's below. Each slot
// filled alone in turn, then none and all of them.
TEST(KernelLadder, EmptySlotsComeFromTheSetBelow) {
  const KernelSet below = kKernelSetC;
  // Functions of the right kinds other than the ones below: each list's
  // portable slots moved round by one.
  KernelSet other{.name = "other"};
  const auto rotate = [&](const auto& slots) {
    const size_t n = std::size(slots);
    for (size_t i = 0; i < n; ++i) other.*slots[i] = below.*slots[(i + 1) % n];
  };
  rotate(kMixSlots);
  rotate(kTransposeSlots);
  rotate(kTintSlots);
  constexpr size_t kNone = kSlotCount;
  constexpr size_t kAll = kSlotCount + 1;
  for (size_t filledAlone = 0; filledAlone <= kAll; ++filledAlone) {
    SCOPED_TRACE(filledAlone == kNone  ? std::string("no slot filled")
                 : filledAlone == kAll ? std::string("every slot filled")
                                       : "slot " + std::to_string(filledAlone) + " filled alone");
    const auto owns = [&](size_t index) { return filledAlone == kAll || index == filledAlone; };
    KernelSet own{.name = "own"};
    size_t index = 0;
    ForEachKernelSlot([&](auto slot) {
      ASSERT_NE(other.*slot, below.*slot) << "slot " << index;
      if (owns(index)) own.*slot = other.*slot;
      ++index;
    });
    const KernelSet filled = FillFrom(own, below);
    EXPECT_STREQ(filled.name, "own");
    index = 0;
    ForEachKernelSlot([&](auto slot) {
      EXPECT_EQ(filled.*slot, owns(index) ? other.*slot : below.*slot) << "slot " << index;
      ++index;
    });
  }
}

std::vector<std::string> NamesOf(std::span<const KernelSet* const> sets) {
  std::vector<std::string> names;
  for (const KernelSet* set : sets) names.emplace_back(set->name);
  return names;
}

// ORV_SIMD caps by a set's own name and leaves a SIMD set out by its name
// after a minus; anything else asks for nothing, as an unknown name always
// did.
TEST(KernelLadder, SimdChoicesByTheSetsNames) {
  const auto sets = CompiledKernelSets();
  for (size_t i = 0; i < sets.size(); ++i) {
    const std::string name = sets[i]->name;
    EXPECT_EQ(SimdChoiceFromText(name.c_str()).cap, i) << name;
    EXPECT_EQ(SimdChoiceFromText(name.c_str()).leftOut, kNone) << name;
    const SimdChoice out = SimdChoiceFromText(("-" + name).c_str());
    EXPECT_EQ(out.cap, kNone) << name;
    EXPECT_EQ(out.leftOut, i == 0 ? kNone : i) << "-" << name;
    for (const std::string& wrong : {name + " ", "--" + name, "- " + name, name + ",-c"}) {
      EXPECT_EQ(SimdChoiceFromText(wrong.c_str()).cap, kNone) << wrong;
      EXPECT_EQ(SimdChoiceFromText(wrong.c_str()).leftOut, kNone) << wrong;
    }
  }
  for (const char* wrong : {static_cast<const char*>(nullptr), "", "-", "no such set", "-none"}) {
    EXPECT_EQ(SimdChoiceFromText(wrong).cap, kNone) << (wrong ? wrong : "null");
    EXPECT_EQ(SimdChoiceFromText(wrong).leftOut, kNone) << (wrong ? wrong : "null");
  }
}

// Each SIMD set left out in turn: the ladder holds every other compiled set
// in order, each slot its own set's or else the set's below it in this
// ladder, so the set above the one left out takes what it hands down (its
// empty slots, the AVX2 2-byte turn's edges) from the next one still in
// (under -ssse3, AVX2's from SSE2); the sets that run are the first of these
// within the processor's.
TEST(KernelLadder, LeavingASetOutFillsFromTheNextOneIn) {
  const auto compiled = CompiledKernelSets();
  const std::span<const KernelRung> rungs = ArchitectureRungs();
  for (size_t out = 1; out < compiled.size(); ++out) {
    SCOPED_TRACE(std::string("-") + compiled[out]->name);
    const KernelLadder ladder(SimdChoice{.leftOut = out});
    std::vector<std::string> want = NamesOf(compiled);
    want.erase(want.begin() + static_cast<ptrdiff_t>(out));
    ASSERT_EQ(NamesOf(ladder.Sets()), want);
    const auto sets = ladder.Sets();
    for (size_t i = 1; i < sets.size(); ++i) {
      const size_t position = i < out ? i : i + 1;
      const KernelSet& own = *rungs[position - 1].set;
      EXPECT_EQ(&ladder.Below(own), sets[i - 1]) << sets[i]->name;
      size_t index = 0;
      ForEachKernelSlot([&](auto slot) {
        const auto wanted = own.*slot != nullptr ? own.*slot : sets[i - 1]->*slot;
        EXPECT_EQ(sets[i]->*slot, wanted) << sets[i]->name << ", slot " << index;
        EXPECT_NE(sets[i]->*slot, nullptr) << sets[i]->name << ", slot " << index;
        ++index;
      });
    }
    EXPECT_EQ(&ladder.Below(*rungs[out - 1].set), &kKernelSetC) << "a set not in";
    const size_t runs = SetsTheProcessorRuns();
    EXPECT_EQ(ladder.Runnable().size(), runs > out ? runs - 1 : runs);
  }
}

// The runnable sets: the compiled ones from the portable one up to the
// lower of the processor's top set and the cap, less a set left out; the
// kernels use the highest unless told otherwise.
TEST(KernelLadder, RunnableSetsAndTheActiveOne) {
  const SimdChoice choice = SimdChoiceFromText(std::getenv("ORV_SIMD"));
  const auto compiled = CompiledKernelSets();
  const auto sets = RunnableKernelSets();
  ASSERT_FALSE(sets.empty());
  const size_t end = std::min(SetsTheProcessorRuns(), choice.cap == kNone ? kNone : choice.cap + 1);
  std::vector<std::string> want;
  for (size_t i = 0; i < end; ++i) {
    if (i != choice.leftOut) want.emplace_back(compiled[i]->name);
  }
  EXPECT_EQ(NamesOf(sets), want);
  EXPECT_EQ(sets.data(), ActiveKernelLadder().Sets().data());
  EXPECT_EQ(&ActiveKernelSet(), sets.back());
  UseKernelSet(sets.front());
  EXPECT_EQ(&ActiveKernelSet(), sets.front());
  UseKernelSet(nullptr);
  EXPECT_EQ(&ActiveKernelSet(), sets.back());
}

}  // namespace
