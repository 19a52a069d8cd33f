// Private to the base library: the processor instructions behind SYS_GetCPU
// (cpu_x86.cpp; stubs that report no CPUID elsewhere) and the naming rule of
// the processor description, kept apart so that it can be checked for
// processors other than the one at hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brisk::base {

// The four registers of one CPUID leaf.
struct CpuidRegs {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

bool CpuidPresent();                // the ID bit of the flags register can be flipped
CpuidRegs Cpuid(uint32_t leaf);     // only valid when CpuidPresent()
uint64_t ReadTsc();                 // the time-stamp counter; 0 where it cannot be read

// The readable processor name: vendor name, a blank, the model name of
// (family, model) and the clock text, cut to 255 characters; empty for a
// vendor string that is not in the vendor table.
std::string CpuName(std::string_view vendor_id, int family, int model, std::string_view clock_text);

}  // namespace brisk::base
