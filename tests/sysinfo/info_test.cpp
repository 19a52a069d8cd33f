// Processor description, system texts and memory figures, checked against
// what the processor and the kernel report when read independently.
#include <cpuid.h>
#include <sys/utsname.h>

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <regex>

#include "base/info.h"
#include "base/info_internal.h"
#include "session.h"

namespace {

using sysinfo_test::BaseSession;
using sysinfo_test::Log;
using sysinfo_test::ReadFile;
using sysinfo_test::ScratchTest;

// The processor as CPUID reports it, in the record's own layout (no clock, no name).
SYS_CPU_t Hardware(std::string *vendor = nullptr) {
  SYS_CPU_t hw{};
  unsigned a = 0, b = 0, c = 0, d = 0;
  __get_cpuid(0, &a, &b, &c, &d);
  if (vendor) {
    char id[13] = {};
    std::memcpy(id, &b, 4);
    std::memcpy(id + 4, &d, 4);
    std::memcpy(id + 8, &c, 4);
    *vendor = id;
  }
  if (a >= 1) {
    __get_cpuid(1, &a, &b, &c, &d);
    hw.family = (a >> 8) & 0xF;
    if (hw.family == 15) hw.family += (a >> 20) & 0xFF;
    hw.model = (a >> 4) & 0xF;
    hw.stepping = a & 0xF;
    hw.tsc = (d >> 4) & 1;
    hw.mmx = (d >> 23) & 1;
    hw.sse = (d >> 25) & 1;
    hw.sse2 = (d >> 26) & 1;
    hw.sse3 = c & 1;
  }
  if (__get_cpuid(0x80000001u, &a, &b, &c, &d)) {
    hw.mmx |= (d >> 23) & 1;
    hw.mmx2 = (d >> 22) & 1;
    hw._3dnow = (d >> 31) & 1;
    hw._3dnowext = (d >> 30) & 1;
  }
  return hw;
}

// The extension flags in the order of the log line, each with its switch.
struct Flag {
  int SYS_CPU_t::*field;
  const char *tag;
  const char *disable;
};
const Flag kFlags[] = {
    {&SYS_CPU_t::mmx, "[mmx] ", "-disable-mmx"},           {&SYS_CPU_t::mmx2, "[mmx2] ", "-disable-mmxext"},
    {&SYS_CPU_t::sse, "[sse] ", "-disable-sse"},           {&SYS_CPU_t::sse2, "[sse2] ", "-disable-sse2"},
    {&SYS_CPU_t::sse3, "[sse3] ", "-disable-sse3"},        {&SYS_CPU_t::_3dnow, "[3dnow] ", "-disable-3dnow"},
    {&SYS_CPU_t::_3dnowext, "[3dnowext]", "-disable-3dnowext"},
};

// The text the extension line should carry for these flags.
std::string ExpectedExtensions(const SYS_CPU_t &flags) {
  std::string text;
  for (const Flag &f : kFlags)
    if (flags.*f.field) text += f.tag;
  return text.empty() ? "instruction set extensions not found." : text;
}

std::string Escape(const std::string &text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// A module line: "[tag][file:N:function()] text" followed by a line feed.
std::regex ModuleLine(const std::string &tag, const std::string &file, const std::string &function,
                      const std::string &text) {
  return std::regex(Escape("[" + tag + "][" + file + ":") + R"(\d+)" + Escape(":" + function + "()] " + text) + "\n");
}

bool HasLine(const std::string &log, const std::regex &line) { return std::regex_search(log, line); }

// What follows "[cpu][...SYS_GetCPU()]  - " up to the line end; nullopt without such a line.
std::optional<std::string> ExtensionLine(const std::string &log) {
  static const std::regex line(R"(\[cpu\]\[info\.cpp:\d+:SYS_GetCPU\(\)\]  - ([^\n]*)\n)");
  std::smatch m;
  if (!std::regex_search(log, m, line)) return std::nullopt;
  return m[1].str();
}

std::string MhzText(float mhz, const char *format) {
  char text[64];
  std::snprintf(text, sizeof text, format, static_cast<double>(mhz));
  return text;
}

// The processor is detected once per process, so every case that depends on
// the first detection runs in a fresh child process: it starts the base
// library with the switches, runs the check and exits 0 when the check
// returns no failure text (printed otherwise).
[[noreturn]] void InFreshProcess(std::vector<std::string> switches,
                                 const std::function<std::string(const SYS_CPU_t &, const std::string &)> &check) {
  std::string failure;
  {
    BaseSession run(std::move(switches));
    failure = run.cpu ? check(*run.cpu, Log()) : "no processor record";
  }
  if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
  std::fflush(stderr);
  // The child leaves without returning to the test main, which would remove
  // its scratch directory ("run-..." above this test's own): do that here,
  // and keep it for a look when the check failed, as the main does.
  const std::filesystem::path run_dir = std::filesystem::current_path().parent_path();
  if (failure.empty() && run_dir.filename().string().rfind("run-", 0) == 0) {
    std::error_code ec;
    std::filesystem::current_path(run_dir.parent_path(), ec);
    std::filesystem::remove_all(run_dir, ec);
  }
  std::_Exit(failure.empty() ? 0 : 1);
}

class CpuTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(CpuTest, RecordMatchesCpuidReadIndependently) {
  std::string vendor;
  const SYS_CPU_t hw = Hardware(&vendor);
  errSetLastError(7);
  SYS_CPU_t *cpu = SYS_GetCPU();
  ASSERT_NE(cpu, nullptr);
  EXPECT_EQ(errGetLastError(), 0) << "SYS_GetCPU clears the error code";
  EXPECT_EQ(SYS_GetCPU(), cpu) << "the same record on every call";

  EXPECT_EQ(cpu->family, hw.family);
  EXPECT_EQ(cpu->model, hw.model);
  EXPECT_EQ(cpu->stepping, hw.stepping);
  EXPECT_EQ(cpu->tsc, hw.tsc);
  for (const Flag &f : kFlags) EXPECT_EQ(cpu->*f.field, hw.*f.field) << f.tag;
  EXPECT_EQ(cpu->reserved1[0] | cpu->reserved1[1] | cpu->reserved1[2] | cpu->reserved2, 0);

  if (cpu->tsc) {
    EXPECT_GT(cpu->mhz, 50.0f);
    EXPECT_LT(cpu->mhz, 20000.0f);
  } else {
    EXPECT_EQ(cpu->mhz, 0.0f);
  }
  // Vendor name, a blank, the model name, then the clock text with its own leading blank.
  const std::string name = cpu->name;
  const std::string clock = cpu->tsc ? MhzText(cpu->mhz, " %.2f MHz") : "";
  const char *vendor_name = vendor == "GenuineIntel" ? "Intel " : vendor == "AuthenticAMD" ? "AMD " : nullptr;
  if (vendor_name) {
    EXPECT_EQ(name.rfind(vendor_name, 0), 0u) << name;
    ASSERT_GE(name.size(), clock.size());
    EXPECT_EQ(name.substr(name.size() - clock.size()), clock) << name;
  }
}

TEST_F(CpuTest, RecordLayoutIsFifteenIntsAFloatAndTheName) {
  EXPECT_EQ(sizeof(SYS_CPU_t), 320u);
  EXPECT_EQ(offsetof(SYS_CPU_t, family), 0u);
  EXPECT_EQ(offsetof(SYS_CPU_t, sse3), 9u * 4);
  EXPECT_EQ(offsetof(SYS_CPU_t, tsc), 13u * 4);
  EXPECT_EQ(offsetof(SYS_CPU_t, mhz), 15u * 4);
  EXPECT_EQ(offsetof(SYS_CPU_t, name), 16u * 4);
}

TEST(CpuNameTest, VendorAndModelTables) {
  struct Case {
    const char *vendor;
    int family, model;
    std::string clock, expected;
  };
  const Case cases[] = {
      {"GenuineIntel", 15, 2, " 2400.00 MHz", "Intel Pentium 4/Celeron Northwood 2400.00 MHz"},
      // An empty model entry leaves the vendor's blank and the clock's own blank.
      {"GenuineIntel", 6, 13, " 1600.00 MHz", "Intel  1600.00 MHz"},
      {"GenuineIntel", 6, 15, "", "Intel Core 2 Duo"},
      {"GenuineIntel", 4, 9, "", "Intel i486DX4"},
      {"GenuineIntel", 7, 0, "", "Intel Itanium Merced"},
      {"GenuineIntel", 15, 3, "", "Intel Pentium 4 Xeon/Celeron Foster"},
      // Intel families named by their numbers.
      {"GenuineIntel", 15, 4, " 3000.00 MHz", "Intel 15:4 3000.00 MHz"},
      {"GenuineIntel", 15, 0, "", "Intel 15:0"},
      {"GenuineIntel", 15, 15, "", "Intel 15:15"},
      {"GenuineIntel", 13, 7, "", "Intel 13:7"},
      {"GenuineIntel", 14, 0, "", "Intel 14:0"},
      // Above family 15 (an extended family) there are no model names.
      {"GenuineIntel", 16, 2, " 10.00 MHz", "Intel  10.00 MHz"},
      {"AuthenticAMD", 23, 1, " 3600.00 MHz", "AMD  3600.00 MHz"},
      {"AuthenticAMD", 15, 0, "", "AMD "},
      {"AuthenticAMD", 15, 5, "", "AMD Opteron Sledgehammer"},
      {"AuthenticAMD", 6, 10, "", "AMD Athlon MP/XP/XP-M Barton"},
      {"AuthenticAMD", 5, 13, "", "AMD K6-2+/K6-III+ Sharptooth"},
      {"UMC UMC UMC ", 4, 2, "", "UMC 486SX U5S"},
      {"CyrixInstead", 6, 5, "", "Cyrix/VIA Cyrix III Joshua (M2 core)"},
      {"NexGenDriven", 5, 0, "", "NexGen Nx586/Nx586FPU"},
      {"CentaurHauls", 6, 9, "", "IDT/Centaur/VIA C3 Nehemiah"},
      {"RiseRiseRise", 5, 9, "", "Rise mP6 iDragon II (new)"},
      {"GenuineTMx86", 5, 4, "", "Transmeta Crusoe TM3x00,TM5x00"},
      // Another vendor's model numbers do not leak across.
      {"GenuineTMx86", 15, 4, "", "Transmeta "},
      // Unknown vendors, including a case difference, give the empty name.
      {"HygonGenuine", 24, 0, " 2000.00 MHz", ""},
      {"genuineintel", 6, 15, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.vendor) + " " + std::to_string(c.family) + ":" + std::to_string(c.model));
    EXPECT_EQ(brisk::base::CpuName(c.vendor, c.family, c.model, c.clock), c.expected);
  }
  // The name is cut to 255 characters.
  std::string long_clock(400, 'x');
  std::string cut = brisk::base::CpuName("GenuineIntel", 6, 15, long_clock);
  EXPECT_EQ(cut.size(), 255u);
  EXPECT_EQ(cut.rfind("Intel Core 2 Duo", 0), 0u);
}

// -debug-cpu shows the detection lines; the extension line lists what the processor has.
TEST_F(CpuTest, DetectionLinesWithDebugCpu) {
  EXPECT_EXIT(InFreshProcess({"-v", "-debug-cpu"},
                             [](const SYS_CPU_t &cpu, const std::string &log) -> std::string {
                               if (!HasLine(log, ModuleLine("cpu", "info.cpp", "SYS_GetCPU", "--- CPU")))
                                 return "no '--- CPU' line in:\n" + log;
                               char tail[64];
                               std::snprintf(tail, sizeof tail, " (%d:%d:%d)", cpu.family, cpu.model, cpu.stepping);
                               if (!HasLine(log, ModuleLine("cpu", "info.cpp", "SYS_GetCPU", cpu.name + std::string(tail))))
                                 return "no name line in:\n" + log;
                               auto line = ExtensionLine(log);
                               if (!line) return "no extension line in:\n" + log;
                               if (*line != ExpectedExtensions(Hardware()))
                                 return "extension line '" + *line + "', expected '" + ExpectedExtensions(Hardware()) + "'";
                               return "";
                             }),
              ::testing::ExitedWithCode(0), "");
}

// Without -debug-cpu the [cpu] lines are left out, but the extension list is
// still written (it goes through the unfiltered call) whenever the log is on.
TEST_F(CpuTest, WithoutDebugCpuOnlyTheExtensionListIsWritten) {
  EXPECT_EXIT(InFreshProcess({"-v"},
                             [](const SYS_CPU_t &, const std::string &log) -> std::string {
                               if (log.find("[cpu]") != std::string::npos) return "a [cpu] line in:\n" + log;
                               if (log.find(ExpectedExtensions(Hardware()) + "\n") == std::string::npos)
                                 return "no extension list in:\n" + log;
                               return "";
                             }),
              ::testing::ExitedWithCode(0), "");
}

// Each switch clears exactly its own flag and its tag in the extension line,
// whatever its spelling (- or /, any case).
TEST_F(CpuTest, DisableSwitchesClearTheirFlagOnly) {
  for (const Flag &flag : kFlags) {
    for (const std::string &spelling : {std::string(flag.disable), "/" + std::string(flag.disable + 1)}) {
      std::string sw = spelling;
      if (sw[0] == '/')
        for (char &ch : sw) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      SCOPED_TRACE(sw);
      EXPECT_EXIT(InFreshProcess({"-v", "-debug-cpu", sw},
                                 [&flag](const SYS_CPU_t &cpu, const std::string &log) -> std::string {
                                   SYS_CPU_t expected = Hardware();
                                   expected.*flag.field = 0;
                                   for (const Flag &f : kFlags)
                                     if (cpu.*f.field != expected.*f.field) return std::string("flag ") + f.tag + "differs";
                                   auto line = ExtensionLine(log);
                                   if (!line) return "no extension line in:\n" + log;
                                   if (line->find(flag.tag) != std::string::npos) return "tag left in '" + *line + "'";
                                   if (*line != ExpectedExtensions(expected)) return "extension line '" + *line + "'";
                                   return "";
                                 }),
                  ::testing::ExitedWithCode(0), "");
    }
  }
}

TEST_F(CpuTest, AllExtensionsDisabled) {
  std::vector<std::string> switches = {"-v", "-debug-cpu"};
  for (const Flag &f : kFlags) switches.push_back(f.disable);
  EXPECT_EXIT(InFreshProcess(switches,
                             [](const SYS_CPU_t &cpu, const std::string &log) -> std::string {
                               for (const Flag &f : kFlags)
                                 if (cpu.*f.field) return std::string("flag still set: ") + f.tag;
                               auto line = ExtensionLine(log);
                               if (!line || *line != "instruction set extensions not found.")
                                 return "extension line in:\n" + log;
                               return "";
                             }),
              ::testing::ExitedWithCode(0), "");
}

// The caller's processor pointer is filled by SYS_BaseInit and is SYS_GetCPU's record.
TEST_F(CpuTest, BaseInitHandsOutTheRecord) {
  BaseSession run({});
  ASSERT_NE(run.cpu, nullptr);
  EXPECT_EQ(run.cpu, SYS_GetCPU());
}

class SystemTest : public ScratchTest {};

// The system texts from uname and os-release, as the test reads them itself.
struct SystemTexts {
  std::string os_type, distrib, kernel;
};
SystemTexts ExpectedTexts() {
  SystemTexts t;
  utsname u{};
  uname(&u);
  t.os_type = u.sysname;
  t.kernel = u.release;
  std::string release = ReadFile("/etc/os-release");
  if (release.empty()) release = ReadFile("/usr/lib/os-release");
  std::smatch m;
  if (std::regex_search(release, m, std::regex(R"((^|\n)PRETTY_NAME=(["']?)([^\n]*?)\2(\n|$))"))) t.distrib = m[3];
  return t;
}

unsigned long long MeminfoKb(const std::string &key) {
  std::smatch m;
  std::string meminfo = ReadFile("/proc/meminfo");
  if (!std::regex_search(meminfo, m, std::regex("(^|\n)" + key + R"(:\s+(\d+) kB)"))) return 0;
  return std::stoull(m[2]);
}

TEST_F(SystemTest, InformationLinesWithDebugInfo) {
  const SystemTexts expected = ExpectedTexts();
  ASSERT_FALSE(expected.distrib.empty()) << "this machine has an os-release PRETTY_NAME";
  {
    BaseSession run({"-v", "-debug-info"});
    EXPECT_STREQ(SYS_GetString(SYS_STR_OSTYPE), expected.os_type.c_str());
    EXPECT_STREQ(SYS_GetString(SYS_STR_DISTRIB), expected.distrib.c_str());
    EXPECT_STREQ(SYS_GetString(SYS_STR_KERNEL), expected.kernel.c_str());
  }
  const std::string log = Log();
  for (const std::string &text : {"OS type: " + expected.os_type, "Distrib: " + expected.distrib,
                                  "Kernel version: " + expected.kernel,
                                  "Total memory: " + std::to_string(MeminfoKb("MemTotal")) + " KB"})
    EXPECT_TRUE(HasLine(log, ModuleLine("info", "info.cpp", "SYS_DetectSystem", text))) << text << " in:\n" << log;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(\[info\]\[info\.cpp:\d+:SYS_DetectSystem\(\)\] Free memory: (\d+) KB\n)")))
      << log;
  EXPECT_GT(std::stoull(m[1]), 0u);
  EXPECT_LE(std::stoull(m[1]), MeminfoKb("MemTotal"));
  // The information lines follow the banner, in their order.
  EXPECT_LT(log.find("--- application : "), log.find("OS type: "));
  EXPECT_LT(log.find("OS type: "), log.find("Distrib: "));
  EXPECT_LT(log.find("Distrib: "), log.find("Kernel version: "));
  EXPECT_LT(log.find("Kernel version: "), log.find("Total memory: "));
  EXPECT_LT(log.find("Total memory: "), log.find("Free memory: "));
}

TEST_F(SystemTest, NoInformationLinesWithoutDebugInfo) {
  { BaseSession run({"-v"}); }
  const std::string log = Log();
  EXPECT_NE(log.find("--- brisk!quantoven application framework"), std::string::npos);
  EXPECT_EQ(log.find("[info]"), std::string::npos) << log;
}

// With the log off nothing detects the system: kinds 0..2 stay null while
// the processor kinds still answer.
TEST_F(SystemTest, StringsWithTheLogOff) {
  BaseSession run({});
  EXPECT_FALSE(std::filesystem::exists("debug.log"));
  for (unsigned kind : {SYS_STR_OSTYPE, SYS_STR_DISTRIB, SYS_STR_KERNEL}) {
    errSetLastError(7);
    EXPECT_EQ(SYS_GetString(kind), nullptr) << kind;
    EXPECT_EQ(errGetLastError(), 0);
  }
  SYS_CPU_t *cpu = SYS_GetCPU();
  ASSERT_NE(cpu, nullptr);
  errSetLastError(7);
  EXPECT_EQ(SYS_GetString(SYS_STR_CPUNAME), cpu->name);
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_EQ(SYS_GetString(SYS_STR_CPUMHZ), MhzText(cpu->mhz, "%.2f MHz"));
  EXPECT_EQ(SYS_GetString(SYS_STR_CPU), reinterpret_cast<const char *>(cpu));
}

TEST_F(SystemTest, UnknownKindsAreRefused) {
  for (unsigned kind : {6u, 7u, 100u, 0x80000000u, UINT_MAX}) {
    EXPECT_EQ(SYS_GetString(kind), nullptr) << kind;
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG) << kind;
  }
}

// The texts are the base library's until it stops: a later run without the
// log finds none, and a direct second detection replaces them.
TEST_F(SystemTest, TextsLastUntilShutdown) {
  {
    BaseSession run({"-v"});
    const char *first = SYS_GetString(SYS_STR_KERNEL);
    ASSERT_NE(first, nullptr);
    const std::string kernel = first;
    EXPECT_EQ(SYS_DetectSystem(), 0);
    EXPECT_STREQ(SYS_GetString(SYS_STR_KERNEL), kernel.c_str());
  }
  BaseSession quiet({});
  EXPECT_EQ(SYS_GetString(SYS_STR_OSTYPE), nullptr);
  EXPECT_EQ(SYS_GetString(SYS_STR_KERNEL), nullptr);
}

TEST_F(SystemTest, MemoryFiguresMatchMeminfo) {
  const unsigned long long total_kb = MeminfoKb("MemTotal");
  ASSERT_GT(total_kb, 0u);
  const unsigned long long total = total_kb * 1024;
  errSetLastError(7);
  EXPECT_EQ(SYS_MemTotal(), total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(total));
  EXPECT_EQ(errGetLastError(), 0);
  errSetLastError(7);
  const unsigned avail = SYS_MemAvail();
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_GT(avail, 0u);
  EXPECT_LE(avail, SYS_MemTotal());
  const unsigned long long avail_bytes = MeminfoKb("MemAvailable") * 1024;
  if (avail_bytes < 0xFFFFFFFFull) {
    // Both read within a moment of each other; allow for what other programs do meanwhile.
    const double ratio = static_cast<double>(avail) / static_cast<double>(avail_bytes);
    EXPECT_GT(ratio, 0.5);
    EXPECT_LT(ratio, 2.0);
  } else {
    EXPECT_EQ(avail, 0xFFFFFFFFu) << "saturates instead of wrapping";
  }
}

}  // namespace
