// The processor test. Compiled without SIMD flags: it runs on every
// processor, including those it finds wanting.
#include "kernels/blend_kernel.h"
#include "kernels/kernel_dispatch.h"

namespace orv::kernels {

namespace {

#if defined(__i386__) || defined(__x86_64__)

// Flips the identification flag (EFLAGS bit 21), reads the flags back and
// restores them. Only a processor with CPUID lets the flag change.
bool HasCpuid() {
  uintptr_t before;
  uintptr_t after;
#if defined(__x86_64__)
  // The pushes would land in the red zone below the stack pointer, where the
  // compiler may keep locals of this function; step over it first.
  asm volatile(
      "lea -128(%%rsp), %%rsp\n\t"
      "pushfq\n\t"
      "popq %0\n\t"
      "movq %0, %1\n\t"
      "xorq $0x200000, %1\n\t"
      "pushq %1\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "popq %1\n\t"
      "pushq %0\n\t"
      "popfq\n\t"
      "lea 128(%%rsp), %%rsp"
      : "=&r"(before), "=&r"(after)
      :
      : "cc", "memory");
#else
  asm volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl"
      : "=&r"(before), "=&r"(after)
      :
      : "cc", "memory");
#endif
  return before != after;
}

struct CpuidRegs {
  uint32_t eax, ebx, ecx, edx;
};

CpuidRegs Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegs r;
  asm volatile("cpuid"
               : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
               : "a"(leaf), "c"(subleaf));
  return r;
}

// XCR0: which register states the operating system saves on a switch.
uint64_t ReadXcr0() {
  uint32_t low;
  uint32_t high;
  asm volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));  // xgetbv
  return (static_cast<uint64_t>(high) << 32) | low;
}

#endif

}  // namespace

SimdLevel CpuSimdLevel() {
#if defined(__i386__) || defined(__x86_64__)
  if (!HasCpuid()) return SimdLevel::kC;
  const uint32_t maxLeaf = Cpuid(0, 0).eax;
  if (maxLeaf < 1) return SimdLevel::kC;
  const CpuidRegs leaf1 = Cpuid(1, 0);
  if ((leaf1.edx & (1u << 23)) == 0) return SimdLevel::kC;
  if ((leaf1.edx & (1u << 26)) == 0) return SimdLevel::kMmx;
  const bool osSavesYmm = (leaf1.ecx & (1u << 27)) != 0 && (ReadXcr0() & 6) == 6;
  const bool avx = (leaf1.ecx & (1u << 28)) != 0;
  if (osSavesYmm && avx && maxLeaf >= 7 && (Cpuid(7, 0).ebx & (1u << 5)) != 0) {
    return SimdLevel::kAvx2;
  }
  return SimdLevel::kSse2;
#else
  return SimdLevel::kC;
#endif
}

}  // namespace orv::kernels

int32_t HasMmx() {
#if defined(__i386__) || defined(__x86_64__)
  using namespace orv::kernels;
  if (!HasCpuid()) return 0;
  return (Cpuid(1, 0).edx & 0x800000u) != 0 ? 1 : 0;
#else
  return 0;
#endif
}

CpuFeatures ReadCpuFeatures() { return CpuFeatures{HasMmx() != 0 ? 1 : 0, 1}; }
