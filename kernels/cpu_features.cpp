// The processor test the actors' kernel choice reads. Built without SIMD
// flags: it runs on every processor, including those it finds wanting.
#include "kernels/blend_kernel.h"

#if defined(ORV_KERNELS_X86)
#include "kernels/x86/cpuid.h"
#endif

namespace orv::kernels {

int32_t HasMmx() {
#if defined(ORV_KERNELS_X86)
  using namespace orv::kernels::x86;
  if (!HasCpuid()) return 0;
  return (Cpuid(1, 0).edx & 0x800000u) != 0 ? 1 : 0;
#else
  return 0;
#endif
}

CpuFeatures ReadCpuFeatures() { return CpuFeatures{HasMmx() != 0 ? 1 : 0, 1}; }

}  // namespace orv::kernels
