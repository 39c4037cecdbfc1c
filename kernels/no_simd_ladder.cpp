// Processors without SIMD sets here: the portable set alone.
#include "kernels/kernel_dispatch.h"
#include "kernels/pixel_kernels.h"

namespace orv::kernels {

std::span<const KernelRung> ArchitectureRungs() { return {}; }

bool ProcessorHasMmx() { return false; }

}  // namespace orv::kernels
