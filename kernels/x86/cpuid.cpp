#include "kernels/x86/cpuid.h"

namespace orv::kernels::x86 {

// Flips the identification flag, reads the flags back and restores them.
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

CpuidRegs Cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegs r;
  asm volatile("cpuid"
               : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
               : "a"(leaf), "c"(subleaf));
  return r;
}

uint64_t ReadXcr0() {
  uint32_t low;
  uint32_t high;
  asm volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));  // xgetbv
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace orv::kernels::x86
