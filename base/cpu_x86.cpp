// The processor instructions CPUID and RDTSC on x86 and x86-64. Other
// processors get stubs that report no CPUID, so SYS_GetCPU fails with 100.
#include "base/info_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>      // Required for: __cpuid
#include <x86intrin.h>  // Required for: __rdtsc
#endif

namespace brisk::base {

#if defined(__x86_64__)

// Every x86-64 processor has CPUID.
bool CpuidPresent() { return true; }

#elif defined(__i386__)

// CPUID exists when the ID bit (bit 21) of EFLAGS can be changed.
bool CpuidPresent() {
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %0\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "popfl\n\t"
      : "=&r"(after), "=&r"(before)
      :
      : "cc");
  return ((after ^ before) & 0x200000u) != 0;
}

#else

bool CpuidPresent() { return false; }

#endif

#if defined(__x86_64__) || defined(__i386__)

CpuidRegs Cpuid(uint32_t leaf) {
  CpuidRegs r;
  __cpuid(leaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

uint64_t ReadTsc() { return __rdtsc(); }

#else

CpuidRegs Cpuid(uint32_t) { return {}; }
uint64_t ReadTsc() { return 0; }

#endif

}  // namespace brisk::base
