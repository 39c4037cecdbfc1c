// Processors without SIMD sets here: the portable set alone.
#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

std::span<const KernelRung> ArchitectureRungs() { return {}; }

}  // namespace orv::kernels
