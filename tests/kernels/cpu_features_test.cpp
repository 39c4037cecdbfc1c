// The processor test and the choice of kernel set.
#include <cstdlib>

#include "kernel_test_support.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

using namespace orv::kernels;

namespace {

TEST(ProcessorTest, HasMmxAnswersFromTheFeatureBit) {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  const bool cpuid = __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0;
  EXPECT_EQ(HasMmx(), cpuid && (edx & bit_MMX) != 0 ? 1 : 0);
#else
  EXPECT_EQ(HasMmx(), 0);
#endif
}

TEST(ProcessorTest, CpuFeaturesWrapTheAnswer) {
  const CpuFeatures features = ReadCpuFeatures();
  EXPECT_EQ(features.mmx, HasMmx() != 0 ? 1 : 0);
  EXPECT_EQ(features.tested, 1);
}

TEST(ProcessorTest, SimdLevelMatchesTheCompilersQuery) {
#if defined(__i386__) || defined(__x86_64__)
  __builtin_cpu_init();
  SimdLevel want = SimdLevel::kC;
  if (__builtin_cpu_supports("mmx")) want = SimdLevel::kMmx;
  if (__builtin_cpu_supports("sse2")) want = SimdLevel::kSse2;
  if (__builtin_cpu_supports("avx2")) want = SimdLevel::kAvx2;
  EXPECT_EQ(CpuSimdLevel(), want);
#else
  EXPECT_EQ(CpuSimdLevel(), SimdLevel::kC);
#endif
}

TEST(KernelChoice, SimdCapNames) {
  EXPECT_EQ(SimdCapFromText("c"), SimdLevel::kC);
  EXPECT_EQ(SimdCapFromText("mmx"), SimdLevel::kMmx);
  EXPECT_EQ(SimdCapFromText("sse2"), SimdLevel::kSse2);
  EXPECT_EQ(SimdCapFromText("avx2"), SimdLevel::kAvx2);
  EXPECT_EQ(SimdCapFromText(nullptr), SimdLevel::kAvx2);
  EXPECT_EQ(SimdCapFromText("avx512"), SimdLevel::kAvx2);
}

// From the portable set up, each runnable within the processor and the cap;
// the kernels use the highest unless told otherwise.
TEST(KernelChoice, RunnableSetsAndTheActiveOne) {
  const auto sets = RunnableKernelSets();
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(sets.front(), &kKernelSetC);
  const SimdLevel cap = SimdCapFromText(std::getenv("ORV_SIMD"));
  for (size_t i = 0; i < sets.size(); ++i) {
    EXPECT_LE(sets[i]->level, CpuSimdLevel()) << sets[i]->name;
    EXPECT_LE(sets[i]->level, cap) << sets[i]->name;
    if (i > 0) {
      EXPECT_GT(sets[i]->level, sets[i - 1]->level) << sets[i]->name;
    }
  }
#if defined(__i386__) || defined(__x86_64__)
  // Every level up to the lower of processor and cap is there.
  const SimdLevel top = CpuSimdLevel() < cap ? CpuSimdLevel() : cap;
  EXPECT_EQ(sets.back()->level, top);
  EXPECT_EQ(sets.size(), static_cast<size_t>(top) + 1);
#endif
  EXPECT_EQ(&ActiveKernelSet(), sets.back());
  UseKernelSet(&kKernelSetC);
  EXPECT_EQ(&ActiveKernelSet(), &kKernelSetC);
  UseKernelSet(nullptr);
  EXPECT_EQ(&ActiveKernelSet(), sets.back());
}

}  // namespace
