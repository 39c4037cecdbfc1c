// The x86 ladder: the SIMD sets, lowest first, each with what it needs of the
// processor. A new set is its file x86/kernels_<name>.cpp, one line in
// x86/kernels.cmake with its flags and one line here, above the set it falls
// back to by position.
// The MMX rung's test is the architecture's MMX test (pixel_kernels.h).
#include "kernels/kernel_dispatch.h"
#include "kernels/x86/cpuid.h"

namespace orv::kernels {

extern const KernelSet kKernelSetMmx;
extern const KernelSet kKernelSetSse2;
extern const KernelSet kKernelSetSsse3;
extern const KernelSet kKernelSetAvx2;

namespace {

// CPUID feature bits a set needs, and the register states (XCR0 bits) the
// operating system must save for it.
struct Needs {
  uint32_t leaf1Edx = 0;
  uint32_t leaf1Ecx = 0;
  uint32_t leaf7Ebx = 0;
  uint64_t savedStates = 0;
};

constexpr uint32_t kOsSavesStates = 1u << 27;  // leaf 1 ecx: OSXSAVE
constexpr uint64_t kYmmStates = 6;             // XCR0: SSE and AVX registers

bool Meets(const Needs& needs) {
  if (!x86::HasCpuid()) return false;
  const uint32_t maxLeaf = x86::Cpuid(0, 0).eax;
  if (maxLeaf < 1) return false;
  const x86::CpuidRegs leaf1 = x86::Cpuid(1, 0);
  if ((leaf1.edx & needs.leaf1Edx) != needs.leaf1Edx) return false;
  if ((leaf1.ecx & needs.leaf1Ecx) != needs.leaf1Ecx) return false;
  if (needs.leaf7Ebx != 0 &&
      (maxLeaf < 7 || (x86::Cpuid(7, 0).ebx & needs.leaf7Ebx) != needs.leaf7Ebx)) {
    return false;
  }
  if (needs.savedStates != 0 && ((leaf1.ecx & kOsSavesStates) == 0 ||
                                 (x86::ReadXcr0() & needs.savedStates) != needs.savedStates)) {
    return false;
  }
  return true;
}

template <Needs kNeeds>
bool Runs() {
  return Meets(kNeeds);
}

bool HasMmx() { return Meets(Needs{.leaf1Edx = 1u << 23}); }

constexpr KernelRung kRungs[] = {
    {&kKernelSetMmx, HasMmx},
    {&kKernelSetSse2, Runs<Needs{.leaf1Edx = 1u << 26}>},
    {&kKernelSetSsse3, Runs<Needs{.leaf1Edx = 1u << 26, .leaf1Ecx = 1u << 9}>},
    {&kKernelSetAvx2,  // AVX (leaf 1 ecx bit 28) and AVX2 (leaf 7 ebx bit 5)
     Runs<Needs{.leaf1Ecx = 1u << 28, .leaf7Ebx = 1u << 5, .savedStates = kYmmStates}>},
};

}  // namespace

std::span<const KernelRung> ArchitectureRungs() { return kRungs; }

ProcessorTest ArchitectureMmxTest() { return HasMmx; }

}  // namespace orv::kernels
