// The x86 processor identification, for the ladder's processor tests.
// Built without SIMD flags: it runs on every processor, including
// those it finds wanting.
#pragma once

#include <cstdint>

namespace orv::kernels::x86 {

// Whether the identification flag (EFLAGS bit 21) can change: only a
// processor with CPUID lets it.
bool HasCpuid();

struct CpuidRegs {
  uint32_t eax, ebx, ecx, edx;
};
CpuidRegs Cpuid(uint32_t leaf, uint32_t subleaf);

// XCR0: which register states the operating system saves on a switch. Only
// when CPUID leaf 1 reports OSXSAVE (ecx bit 27).
uint64_t ReadXcr0();

}  // namespace orv::kernels::x86
