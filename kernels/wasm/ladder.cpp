// The WebAssembly ladder: the SIMD128 set where the build has it. An engine
// that loaded the program runs every instruction in it, so the rung needs no
// test.
// A page in a browser stands where the module runs on Windows, whose every
// processor has MMX: answering yes gives the 16-bit fade its users see there.
#include "kernels/kernel_dispatch.h"
#include "kernels/pixel_kernels.h"

namespace orv::kernels {

bool ProcessorHasMmx() { return true; }

#if defined(ORV_WASM_SIMD128)
extern const KernelSet kKernelSetSimd128;

namespace {

bool Always() { return true; }

constexpr KernelRung kRungs[] = {{&kKernelSetSimd128, Always}};

}  // namespace

std::span<const KernelRung> ArchitectureRungs() { return kRungs; }
#else
std::span<const KernelRung> ArchitectureRungs() { return {}; }
#endif

}  // namespace orv::kernels
