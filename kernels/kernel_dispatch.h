// The one place that chooses the kernel set: the highest SIMD level that is
// compiled in, that the processor runs and that the environment variable
// ORV_SIMD ("c", "mmx", "sse2" or "avx2") allows. Chosen once, on first use.
// Tests and benchmarks walk the runnable sets and select each in turn.
#pragma once

#include <span>

#include "kernels/kernel_set.h"

namespace orv::kernels {

// Highest level the processor runs (for AVX2 the operating system must save
// the wide registers too); kC on processors other than x86.
SimdLevel CpuSimdLevel();

// The cap named by ORV_SIMD's text; no cap (kAvx2) for null or an unknown name.
SimdLevel SimdCapFromText(const char* text);

// Compiled in, run by this processor and within the ORV_SIMD cap; lowest first.
std::span<const KernelSet* const> RunnableKernelSets();

// The set every kernel of blend_kernel.h runs with.
const KernelSet& ActiveKernelSet();

// Runs the kernels with `set` from now on; nullptr returns to the choice above.
void UseKernelSet(const KernelSet* set);

}  // namespace orv::kernels
