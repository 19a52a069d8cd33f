// Processor and system information: the processor description with its
// vendor and model-name tables and the measured clock, the system texts from
// uname and os-release, and the memory figures from /proc/meminfo.
#include "base/info.h"

#include <sys/utsname.h>  // Required for: uname

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "base/info_internal.h"
#include "base/internal.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/timer.h"

static_assert(sizeof(SYS_CPU_t) == 15 * 4 + 4 + 256, "the processor record is shared with other modules");
static_assert(offsetof(SYS_CPU_t, tsc) == 13 * 4 && offsetof(SYS_CPU_t, mhz) == 15 * 4 &&
              offsetof(SYS_CPU_t, name) == 16 * 4);

namespace brisk::base {
namespace {

// [SECTION] Vendor and model-name tables

// CPUID vendor string and the name used in texts, in lookup order.
struct Vendor {
  std::string_view id;
  const char *name;
};
constexpr Vendor kVendors[] = {
    {"GenuineIntel", "Intel"},     {"UMC UMC UMC ", "UMC"},   {"AuthenticAMD", "AMD"},
    {"CyrixInstead", "Cyrix/VIA"}, {"NexGenDriven", "NexGen"}, {"CentaurHauls", "IDT/Centaur/VIA"},
    {"RiseRiseRise", "Rise"},      {"GenuineTMx86", "Transmeta"},
};
enum VendorIndex : uint8_t { kIntel, kUmc, kAmd, kCyrix, kNexGen, kCentaur, kRise, kTransmeta };

// The named entries of the 16 x 16 model-name table of each vendor; every
// other (family, model) has the empty name, except the Intel families that
// are named by their numbers (see ModelName).
struct ModelEntry {
  VendorIndex vendor;
  uint8_t family, model;
  const char *name;
};
constexpr ModelEntry kModels[] = {
    {kIntel, 4, 0, "i486DX-25/33"},
    {kIntel, 4, 1, "i486DX-50"},
    {kIntel, 4, 2, "i486SX"},
    {kIntel, 4, 3, "i486DX2"},
    {kIntel, 4, 4, "i486SL"},
    {kIntel, 4, 5, "i486SX2"},
    {kIntel, 4, 7, "i486DX2"},
    {kIntel, 4, 8, "i486DX4"},
    {kIntel, 4, 9, "i486DX4"},
    {kIntel, 5, 0, "Pentium P5 A-step"},
    {kIntel, 5, 1, "Pentium P5"},
    {kIntel, 5, 2, "Pentium P54C"},
    {kIntel, 5, 3, "Pentium OverDrive P24T"},
    {kIntel, 5, 4, "Pentium MMX P55C"},
    {kIntel, 5, 7, "Pentium P54C (new)"},
    {kIntel, 5, 8, "Pentium MMX P55C (new)"},
    {kIntel, 6, 0, "PentiumPro A-step"},
    {kIntel, 6, 1, "PentiumPro"},
    {kIntel, 6, 3, "Pentium II Klamath/Pentium II OverDrive"},
    {kIntel, 6, 5, "Celeron Covington/Pentium II Deschutes,Tonga/Pentium II Xeon"},
    {kIntel, 6, 6, "Celeron A Mendocino/Pentium II Dixon"},
    {kIntel, 6, 7, "Pentium III Katmai/Pentium III Xeon Tanner"},
    {kIntel, 6, 8, "Celeron 2/Pentium III Coppermine,Geyserville"},
    {kIntel, 6, 9, "Pentium M Banias"},
    {kIntel, 6, 10, "Pentium III Xeon Cascades"},
    {kIntel, 6, 11, "Celeron 2/Pentium III Tualatin"},
    {kIntel, 6, 14, "Core Duo"},
    {kIntel, 6, 15, "Core 2 Duo"},
    {kIntel, 7, 0, "Itanium Merced"},
    {kIntel, 15, 1, "Pentium 4 Willamette"},
    {kIntel, 15, 2, "Pentium 4/Celeron Northwood"},
    {kIntel, 15, 3, "Pentium 4 Xeon/Celeron Foster"},
    {kUmc, 4, 1, "486DX U5D"},
    {kUmc, 4, 2, "486SX U5S"},
    {kAmd, 4, 3, "486DX2"},
    {kAmd, 4, 7, "486DX2"},
    {kAmd, 4, 8, "486DX4/5x86"},
    {kAmd, 4, 9, "486DX4"},
    {kAmd, 4, 14, "5x86"},
    {kAmd, 4, 15, "5x86/write-back"},
    {kAmd, 5, 0, "K5 SSA5 (PR75,PR90,PR100)"},
    {kAmd, 5, 1, "K5 5k86 (PR120,PR133)"},
    {kAmd, 5, 2, "K5 5k86 (PR166)"},
    {kAmd, 5, 3, "K5 5k86 (PR200)"},
    {kAmd, 5, 6, "K6"},
    {kAmd, 5, 7, "K6 Little Foot"},
    {kAmd, 5, 8, "K6-2"},
    {kAmd, 5, 9, "K6-III Chomper"},
    {kAmd, 5, 13, "K6-2+/K6-III+ Sharptooth"},
    {kAmd, 6, 1, "Athlon K7"},
    {kAmd, 6, 2, "Athlon K75 Pluto,Orion"},
    {kAmd, 6, 3, "Duron Spitfire"},
    {kAmd, 6, 4, "Athlon Thunderbird"},
    {kAmd, 6, 6, "Athlon MP/XP Palomino"},
    {kAmd, 6, 7, "Duron MG Morgan"},
    {kAmd, 6, 8, "Athlon MP/XP Thoroughbred"},
    {kAmd, 6, 10, "Athlon MP/XP/XP-M Barton"},
    {kAmd, 15, 4, "Athlon 64 Clawhammer"},
    {kAmd, 15, 5, "Opteron Sledgehammer"},
    {kCyrix, 4, 4, "MediaGX"},
    {kCyrix, 4, 9, "5x86"},
    {kCyrix, 5, 0, "M1 test-sample"},
    {kCyrix, 5, 2, "6x86 M1"},
    {kCyrix, 5, 3, "6x86L M1"},
    {kCyrix, 5, 4, "GXm"},
    {kCyrix, 6, 0, "6x86MX M2/M-II"},
    {kCyrix, 6, 5, "Cyrix III Joshua (M2 core)"},
    {kNexGen, 5, 0, "Nx586/Nx586FPU"},
    {kCentaur, 5, 4, "WinChip C6"},
    {kCentaur, 5, 6, "Samuel"},
    {kCentaur, 5, 8, "WinChip 2 C6+,W2,W2A,W2B"},
    {kCentaur, 5, 9, "WinChip 3 W3"},
    {kCentaur, 5, 10, "WinChip 4 W4A"},
    {kCentaur, 6, 6, "Cyrix III Samuel (WinChip C5A core)"},
    {kCentaur, 6, 7, "C3 Samuel 2 (WinChip C5B core)/C3 Ezra"},
    {kCentaur, 6, 8, "C3 Ezra-T"},
    {kCentaur, 6, 9, "C3 Nehemiah"},
    {kRise, 5, 0, "mP6 iDragon 6401,6441 Kirin"},
    {kRise, 5, 1, "mP6 iDragon 6510 Lynx"},
    {kRise, 5, 8, "mP6 iDragon II"},
    {kRise, 5, 9, "mP6 iDragon II (new)"},
    {kTransmeta, 5, 4, "Crusoe TM3x00,TM5x00"},
};

// Model name of (family, model) for a vendor of the table. Intel families
// 13 and 14, and family 15 apart from its three named models, are written
// as "family:model"; families above 15 have no model names.
std::string ModelName(VendorIndex vendor, int family, int model) {
  if (family < 0 || family > 15 || model < 0 || model > 15) return {};
  if (vendor == kIntel && (family == 13 || family == 14 || (family == 15 && (model == 0 || model >= 4))))
    return std::to_string(family) + ":" + std::to_string(model);
  for (const ModelEntry &e : kModels)
    if (e.vendor == vendor && e.family == family && e.model == model) return e.name;
  return {};
}

// [SECTION] Processor record

std::mutex g_cpu_lock;
SYS_CPU_t g_cpu;
bool g_cpu_detected = false;
char g_mhz_text[512];  // SYS_GetString (4), formatted once after detection

// Five rounds of 50 ms between two readings of the time-stamp counter and
// the millisecond clock; the mean of the rounds' rates in MHz. A round whose
// millisecond difference is 0 (the sleep cut short) is left out rather than
// divided by.
float MeasureMhz() {
  double sum = 0;
  int rounds = 0;
  for (int i = 0; i < 5; ++i) {
    uint64_t t0 = ReadTsc();
    uint32_t m0 = SYS_TimerTicks();
    SYS_Sleep(50);
    uint64_t t1 = ReadTsc();
    uint32_t m1 = SYS_TimerTicks();
    uint64_t counts = t1 - t0;
    uint32_t ms = m1 - m0;
    if (ms == 0) continue;
    sum += static_cast<double>(counts) / ms / 1000.0;
    ++rounds;
  }
  return rounds ? static_cast<float>(sum / rounds) : 0.0f;
}

// The extension flags, in the order of the log line.
struct Extension {
  int SYS_CPU_t::*field;
  const char *text;
};
constexpr Extension kExtensions[] = {
    {&SYS_CPU_t::mmx, "[mmx] "},        {&SYS_CPU_t::mmx2, "[mmx2] "}, {&SYS_CPU_t::sse, "[sse] "},
    {&SYS_CPU_t::sse2, "[sse2] "},      {&SYS_CPU_t::sse3, "[sse3] "}, {&SYS_CPU_t::_3dnow, "[3dnow] "},
    {&SYS_CPU_t::_3dnowext, "[3dnowext]"},
};

// The switches that turn an extension off, each with its flag.
struct DisableSwitch {
  const char *name;
  int SYS_CPU_t::*field;
};
constexpr DisableSwitch kDisableSwitches[] = {
    {"disable-mmx", &SYS_CPU_t::mmx},       {"disable-mmxext", &SYS_CPU_t::mmx2},
    {"disable-sse", &SYS_CPU_t::sse},       {"disable-sse2", &SYS_CPU_t::sse2},
    {"disable-sse3", &SYS_CPU_t::sse3},     {"disable-3dnow", &SYS_CPU_t::_3dnow},
    {"disable-3dnowext", &SYS_CPU_t::_3dnowext},
};

int Bit(uint32_t word, int bit) { return static_cast<int>((word >> bit) & 1u); }

int CpuLevel() { return SwitchLevel(g_debug.cpu); }

// [SECTION] System texts and memory

std::mutex g_text_lock;
char *g_os_type = nullptr;
char *g_distrib = nullptr;
char *g_kernel = nullptr;

// A value of a "Key:   1234 kB" line of /proc/meminfo, in kB.
std::optional<uint64_t> MeminfoKb(const char *key) {
  FILE *f = std::fopen("/proc/meminfo", "r");
  if (!f) return std::nullopt;
  std::optional<uint64_t> value;
  char line[256];
  const size_t key_len = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, key_len) != 0 || line[key_len] != ':') continue;
    unsigned long long kb = 0;
    if (std::sscanf(line + key_len + 1, "%llu", &kb) == 1) value = kb;
    break;
  }
  std::fclose(f);
  return value;
}

// Physical memory in bytes; 0 when /proc/meminfo cannot be read.
uint64_t TotalBytes() { return MeminfoKb("MemTotal").value_or(0) * 1024u; }

// Memory available to new programs; kernels without MemAvailable give MemFree.
uint64_t AvailBytes() {
  auto kb = MeminfoKb("MemAvailable");
  if (!kb) kb = MeminfoKb("MemFree");
  return kb.value_or(0) * 1024u;
}

unsigned Saturate(uint64_t bytes) { return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(bytes); }

// PRETTY_NAME of an os-release file, with its shell quoting removed.
std::optional<std::string> PrettyName(const char *path) {
  FILE *f = std::fopen(path, "r");
  if (!f) return std::nullopt;
  std::optional<std::string> found;
  std::string line;
  int c;
  do {
    c = std::fgetc(f);
    if (c != '\n' && c != EOF) {
      if (line.size() < 4096) line.push_back(static_cast<char>(c));
      continue;
    }
    constexpr std::string_view kKey = "PRETTY_NAME=";
    if (line.compare(0, kKey.size(), kKey) == 0) {
      std::string_view raw = std::string_view(line).substr(kKey.size());
      std::string value;
      if (!raw.empty() && (raw.front() == '"' || raw.front() == '\'')) {
        const char quote = raw.front();
        for (size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
          if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size()) ++i;
          value.push_back(raw[i]);
        }
      } else {
        value.assign(raw);
      }
      found = value;
    }
    line.clear();
  } while (c != EOF);
  std::fclose(f);
  return found;
}

// Replaces one kept text by a tracked copy of value.
void Keep(char *&slot, const std::string &value) {
  SYS_MemFree(slot);
  slot = SYS_StrDup(value.c_str());
}

}  // namespace

std::string CpuName(std::string_view vendor_id, int family, int model, std::string_view clock_text) {
  for (size_t v = 0; v < std::size(kVendors); ++v) {
    if (kVendors[v].id != vendor_id) continue;
    std::string name = std::string(kVendors[v].name) + " " + ModelName(static_cast<VendorIndex>(v), family, model);
    name.append(clock_text);
    if (name.size() > 255) name.resize(255);
    return name;
  }
  return {};
}

// Releases the system texts (a step of SYS_BaseDone).
void InfoShutdown() {
  std::lock_guard lock(g_text_lock);
  SYS_MemFree(g_os_type);
  SYS_MemFree(g_distrib);
  SYS_MemFree(g_kernel);
}

}  // namespace brisk::base

using namespace brisk::base;

extern "C" SYS_CPU_t *SYS_GetCPU(void) {
  errClear();
  std::lock_guard lock(g_cpu_lock);
  if (g_cpu_detected) return &g_cpu;

  if (!CpuidPresent()) {
    SYS_MSG(CpuLevel(), "cpu", "This processor dosent have CPUID instruction.\n");
    errSetLastError(SYS_ERR_NOCPUID);
    return nullptr;
  }
  g_cpu = SYS_CPU_t{};
  SYS_MSG(CpuLevel(), "cpu", "--- CPU\n");

  CpuidRegs leaf0 = Cpuid(0);
  char vendor[13];
  std::snprintf(vendor, sizeof vendor, "%.4s%.4s%.4s", reinterpret_cast<const char *>(&leaf0.ebx),
                reinterpret_cast<const char *>(&leaf0.edx), reinterpret_cast<const char *>(&leaf0.ecx));

  if (leaf0.eax != 0) {
    CpuidRegs leaf1 = Cpuid(1);
    g_cpu.family = static_cast<int>((leaf1.eax >> 8) & 0xF);
    if (g_cpu.family == 15) g_cpu.family += static_cast<int>((leaf1.eax >> 20) & 0xFF);
    g_cpu.model = static_cast<int>((leaf1.eax >> 4) & 0xF);
    g_cpu.stepping = static_cast<int>(leaf1.eax & 0xF);
    g_cpu.tsc = Bit(leaf1.edx, 4);
    g_cpu.mmx = Bit(leaf1.edx, 23);
    g_cpu.sse = Bit(leaf1.edx, 25);
    g_cpu.sse2 = Bit(leaf1.edx, 26);
    g_cpu.sse3 = Bit(leaf1.ecx, 0);

    char clock_text[64] = "";
    if (g_cpu.tsc) {
      g_cpu.mhz = MeasureMhz();
      std::snprintf(clock_text, sizeof clock_text, " %.2f MHz", static_cast<double>(g_cpu.mhz));
    }
    std::string name = CpuName(vendor, g_cpu.family, g_cpu.model, clock_text);
    std::memcpy(g_cpu.name, name.c_str(), name.size() + 1);
    SYS_MSG(CpuLevel(), "cpu", "%s (%d:%d:%d)\n", g_cpu.name, g_cpu.family, g_cpu.model, g_cpu.stepping);
  }

  if (Cpuid(0x80000000u).eax > 0x80000000u) {
    CpuidRegs ext = Cpuid(0x80000001u);
    g_cpu.mmx |= Bit(ext.edx, 23);
    g_cpu.mmx2 |= Bit(ext.edx, 22);
    g_cpu._3dnow = Bit(ext.edx, 31);
    g_cpu._3dnowext = Bit(ext.edx, 30);
  }

  for (const DisableSwitch &s : kDisableSwitches)
    if (SYS_CfgGet(s.name, 0) == 1) g_cpu.*s.field = 0;
  errClear();

  SYS_MSG(CpuLevel(), "cpu", " - ");
  std::string line;
  for (const Extension &e : kExtensions)
    if (g_cpu.*e.field) line += e.text;
  if (line.empty()) line = "instruction set extensions not found.";
  line += "\n";
  SYS_DbgPrintf(0, "%s", line.c_str());

  std::snprintf(g_mhz_text, sizeof g_mhz_text, "%.2f MHz", static_cast<double>(g_cpu.mhz));
  g_cpu_detected = true;
  return &g_cpu;
}

extern "C" int SYS_DetectSystem(void) {
  errClear();
  std::string os_type = "unknown";
  std::string kernel = "unknown";
  utsname uts{};
  if (uname(&uts) == 0) {
    os_type = uts.sysname;
    kernel = uts.release;
  }
  // os-release(5): /etc/os-release, else the vendor's copy under /usr/lib.
  std::optional<std::string> distrib = PrettyName("/etc/os-release");
  if (!distrib) distrib = PrettyName("/usr/lib/os-release");

  {
    std::lock_guard lock(g_text_lock);
    Keep(g_os_type, os_type);
    Keep(g_distrib, distrib.value_or(""));
    Keep(g_kernel, kernel);
  }

  const int level = SwitchLevel(g_debug.info);
  SYS_MSG(level, "info", "OS type: %s\n", os_type.c_str());
  SYS_MSG(level, "info", "Distrib: %s\n", distrib.value_or("").c_str());
  SYS_MSG(level, "info", "Kernel version: %s\n", kernel.c_str());
  // The whole figures, which may exceed what the 32-bit calls can return.
  SYS_MSG(level, "info", "Total memory: %llu KB\n", static_cast<unsigned long long>(TotalBytes() / 1024));
  SYS_MSG(level, "info", "Free memory: %llu KB\n", static_cast<unsigned long long>(AvailBytes() / 1024));

  SYS_GetCPU();
  errClear();
  return 0;
}

extern "C" const char *SYS_GetString(unsigned kind) {
  errClear();
  switch (kind) {
    case SYS_STR_OSTYPE:
    case SYS_STR_DISTRIB:
    case SYS_STR_KERNEL: {
      std::lock_guard lock(g_text_lock);
      return kind == SYS_STR_OSTYPE ? g_os_type : kind == SYS_STR_DISTRIB ? g_distrib : g_kernel;
    }
    case SYS_STR_CPUNAME:
    case SYS_STR_CPUMHZ:
    case SYS_STR_CPU: {
      SYS_CPU_t *cpu = SYS_GetCPU();
      if (!cpu) return nullptr;
      if (kind == SYS_STR_CPUNAME) return cpu->name;
      if (kind == SYS_STR_CPUMHZ) return g_mhz_text;
      return reinterpret_cast<const char *>(cpu);
    }
    default:
      errSetLastError(SYS_ERR_ARG);
      return nullptr;
  }
}

extern "C" unsigned SYS_MemTotal(void) {
  errClear();
  return Saturate(TotalBytes());
}

extern "C" unsigned SYS_MemAvail(void) {
  errClear();
  return Saturate(AvailBytes());
}
