// Processors without SIMD sets here: the portable set alone, and no MMX
// (what such a build draws anyway: RowWalksTakeMmx in pixel_kernels.h).
#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

std::span<const KernelRung> ArchitectureRungs() { return {}; }

ProcessorTest ArchitectureMmxTest() { return nullptr; }

}  // namespace orv::kernels
