// The WebAssembly ladder: the SIMD128 set where the build has it. An engine
// that loaded the program runs every instruction in it, so the rung needs no
// test. WebAssembly has no MMX (what a page draws anyway: RowWalksTakeMmx in
// pixel_kernels.h).
#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

ProcessorTest ArchitectureMmxTest() { return nullptr; }

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
