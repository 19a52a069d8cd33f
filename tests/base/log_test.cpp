// The log (banners, prefixes, switches, console echo, time stamps), the
// argument list and its switch lookup, and the error state.
#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <thread>

#include "child.h"

namespace {

using namespace basetest;

// A module's line; its source line is part of the expected prefix.
void WriteModuleLine() { SYS_MSG(2, "test", "module line %d\n", 7); }
constexpr int kModuleLine = __LINE__ - 1;

// One line of each kind, as a module writes them.
void WriteLines() {
  SYS_DbgMsg(0, "debug line\n");
  SYS_DbgMsg(1, "warning line\n");
  SYS_DbgMsg(2, "info line\n");
  SYS_DbgMsg(3, "error line\n");
  WriteModuleLine();
  SYS_DbgLog("glue line\n");
  SYS_DbgPrintf(0, "plain %s\n", "printf");
}

// Runs a whole program life in a child: start with these switches, write the
// lines, stop. Standard output goes to "stdout.txt".
void RunProgram(const std::vector<std::string> &switches, const std::function<void()> &middle = WriteLines,
                const std::function<void()> &prepare = {}) {
  InChild([&] {
    if (prepare) prepare();
    int saved = dup(1);
    int out = open("stdout.txt", O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(out, 0);
    dup2(out, 1);
    std::vector<std::string> args{"/opt/demo/show"};
    args.insert(args.end(), switches.begin(), switches.end());
    StartBase(args);
    middle();
    SYS_BaseDone();
    std::fflush(stdout);
    dup2(saved, 1);
    close(out);
    close(saved);
  });
}

struct LogCase {
  const char *label;
  std::vector<std::string> switches;
  const char *file;  // the log file written, null for none
  bool echo;         // the same text on standard output
  bool stamp;        // time stamps in front of stamped lines
  bool debug;        // level-0 lines pass
};

const LogCase kLogCases[] = {
    {"v", {"-v"}, "debug.log", false, false, false},
    {"c", {"-c"}, "debug.log", true, false, false},
    {"v_and_c", {"-v", "-c"}, "debug.log", true, false, false},
    {"c_and_v", {"-c", "-v"}, "debug.log", true, false, false},
    {"ts", {"-v", "-debug-ts"}, "debug.log", false, true, false},
    {"echo_ts", {"-c", "-debug-ts"}, "debug.log", true, true, false},
    {"named", {"-v", "-debug-log", "run.txt"}, "run.txt", false, false, false},
    {"name_missing", {"-v", "-debug-log"}, "debug.log", false, false, false},
    {"slash_upper", {"/V", "/DEBUG-ALL"}, "debug.log", false, false, true},
    {"debug_all", {"-v", "-debug-all"}, "debug.log", false, false, true},
    {"switches_without_log", {"-debug-all", "-debug-ts", "-debug-log", "x.log"}, nullptr, false, false, false},
    {"none", {}, nullptr, false, false, false},
};

class LogOutput : public Scratch, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogOutput, BannerLinesAndEnd) {
  const LogCase &c = GetParam();
  RunProgram(c.switches);

  std::vector<std::string> files;
  for (const auto &e : std::filesystem::directory_iterator("."))
    if (e.path().filename() != "stdout.txt") files.push_back(e.path().filename().string());
  const std::string echo = ReadFile("stdout.txt");
  if (!c.file) {
    EXPECT_TRUE(files.empty()) << files.front();
    EXPECT_EQ(echo, "");
    return;
  }
  ASSERT_EQ(files, std::vector<std::string>{c.file});
  const std::string text = ReadFile(c.file);

  const std::string s = c.stamp ? std::string(kStamp) + " " : "";
  const std::string head = "\n\n" + s + Quote("--- brisk!quantoven application framework 0.85\n") + s +
                           "--- started : " + kStamp + "\n" + s + Quote("--- application : /opt/demo/show\n\n");
  EXPECT_TRUE(std::regex_search(text, std::regex(head), std::regex_constants::match_continuous)) << text;

  std::string tail;
  if (c.debug) tail += s + "debug line\n";
  tail += s + Quote("[wrn]warning line\n") + s + "info line\n" + s + Quote("[err]error line\n") + s +
          Quote("[test][log_test.cpp:" + std::to_string(kModuleLine) + ":WriteModuleLine()] module line 7\n") + s +
          "glue line\n" + "plain printf\n" + s + Quote("\n--- End of log.\n\n");
  auto first = text.find(c.debug ? "debug line\n" : "[wrn]warning line\n");
  ASSERT_NE(first, std::string::npos) << text;
  first = text.rfind('\n', first) + 1;
  EXPECT_TRUE(std::regex_match(text.substr(first), std::regex(tail))) << text.substr(first);
  EXPECT_EQ(text.find("debug line"), c.debug ? first : std::string::npos);

  EXPECT_EQ(echo, c.echo ? text : "");
}

INSTANTIATE_TEST_SUITE_P(Switches, LogOutput, ::testing::ValuesIn(kLogCases),
                         [](const auto &info) { return std::string(info.param.label); });

class Log : public Scratch {};

TEST_F(Log, WithoutSwitchesAnExistingFileIsLeftAlone) {
  WriteFile("debug.log", "earlier run\n");
  RunProgram({});
  EXPECT_EQ(ReadFile("debug.log"), "earlier run\n");
}

TEST_F(Log, SecondRunReplacesTheFileUnlessAppending) {
  const std::string banner = "\n\n--- brisk!quantoven application framework 0.85\n";
  const std::string end = "\n--- End of log.\n\n";
  auto count = [](const std::string &text, const std::string &what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };

  WriteFile("debug.log", "earlier run\n");
  RunProgram({"-v"});
  RunProgram({"-v"});
  std::string text = ReadFile("debug.log");
  EXPECT_EQ(text.rfind(banner, 0), 0u) << text;
  EXPECT_EQ(count(text, banner), 1);

  RunProgram({"-v", "-debug-append"});
  text = ReadFile("debug.log");
  EXPECT_EQ(count(text, banner), 2);
  EXPECT_EQ(count(text, end), 2);
  const auto first_end = text.find(end);
  EXPECT_EQ(text.find(banner, 1), first_end + end.size()) << text;
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

TEST_F(Log, LongLineIsCutTo4095CharactersAndKeepsItsEnd) {
  RunProgram({"-v"}, [] {
    const std::string long_text(5000, 'x');
    SYS_DbgMsg(1, "%s\n", long_text.c_str());
    SYS_DbgMsg(2, "next\n");
    SYS_DbgPrintf(1, "%s\n", long_text.c_str());
    SYS_DbgMsg(2, "after\n");
  });
  const std::string text = ReadFile("debug.log");
  // 4095 characters in all, the last of them the line end.
  EXPECT_NE(text.find("\n[wrn]" + std::string(4089, 'x') + "\nnext\n"), std::string::npos);
  EXPECT_NE(text.find("\n" + std::string(4094, 'x') + "\nafter\n"), std::string::npos);
}

// The per-module switch of the start-up lines, in every spelling.
struct SwitchCase {
  std::vector<std::string> switches;
  bool lines;
};

class ModuleSwitch : public Scratch, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(ModuleSwitch, GovernsTheStartUpLines) {
  RunProgram(GetParam().switches, [] {}, [] { setenv("HOME", "/home/tester", 1); });
  std::vector<std::string> expected;
  if (GetParam().lines)
    expected = {"SYS_BaseInit: HOME: '/home/tester/'", "SYS_BaseInit: SYSTEM DIR: '/opt/demo/'"};
  EXPECT_EQ(ModuleLines(ReadFile("debug.log"), "base"), expected);
}

INSTANTIATE_TEST_SUITE_P(Spellings, ModuleSwitch,
                         ::testing::Values(SwitchCase{{"-v"}, false}, SwitchCase{{"-v", "-debug-base"}, true},
                                           SwitchCase{{"-v", "/Debug-Base"}, true},
                                           SwitchCase{{"-v", "-debug-all"}, true}));

TEST_F(Log, LogFileAndFlagWordCanBeReplaced) {
  RunProgram({"-v"}, [] {
    EXPECT_EQ(SYS_DbgGetFlag(), unsigned{SYS_DBG_ON});
    errSetLastError(3);
    EXPECT_EQ(SYS_DbgLogFile(nullptr), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
    EXPECT_EQ(SYS_DbgLogFile("second.log"), 0);
    SYS_DbgMsg(2, "to the second file\n");
    EXPECT_EQ(SYS_DbgSetFlag(0), 0);
    SYS_DbgMsg(2, "log off\n");
    SYS_DbgSetFlag(SYS_DBG_ON | SYS_DBG_STAMP);
    SYS_DbgMsg(2, "stamped\n");
  });
  EXPECT_EQ(ReadFile("debug.log").find("to the second"), std::string::npos);
  EXPECT_TRUE(std::regex_match(ReadFile("second.log"),
                               std::regex(std::string("to the second file\n") + kStamp + " stamped\n" + kStamp +
                                          " \n--- End of log\\.\n\n")))
      << ReadFile("second.log");
}

TEST_F(Log, LinesOfTwoThreadsNeverInterleave) {
  RunProgram({"-v"}, [] {
    auto writer = [](char name) {
      for (int i = 0; i < 300; ++i) SYS_DbgMsg(2, "%c %d %s\n", name, i, std::string(100, name).c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
  });
  int seen = 0;
  const std::regex whole("([ab]) [0-9]+ ([ab]){100}");
  for (const auto &line : Lines(ReadFile("debug.log"))) {
    if (line.empty() || (line[0] != 'a' && line[0] != 'b')) continue;
    ++seen;
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, whole) && line.find(line[0] == 'a' ? 'b' : 'a') == std::string::npos)
        << line;
  }
  EXPECT_EQ(seen, 600);
}

TEST_F(Log, TimeStampIsTheLocalTime) {
  InChild([] {
    std::time_t before = std::time(nullptr);
    char *stamp = SYS_TimeStamp();
    std::time_t after = std::time(nullptr);
    ASSERT_NE(stamp, nullptr);
    EXPECT_TRUE(std::regex_match(stamp, std::regex(kStamp))) << stamp;
    auto format = [](std::time_t t) {
      std::tm tm{};
      localtime_r(&t, &tm);
      char text[32];
      std::strftime(text, sizeof text, "%Y%m%d %H%M%S", &tm);
      return std::string(text);
    };
    EXPECT_TRUE(stamp == format(before) || stamp == format(after)) << stamp;
    SYS_MemFree(stamp);
  });
}

// --- argument list ---------------------------------------------------------

struct CfgCase {
  const char *name;
  int kind;
  intptr_t value;    // the result (kinds 0, 2, 3 and failures)
  const char *text;  // kind 1: the entry returned
  int error;         // the last-error code afterwards
};

TEST(CfgGet, KindsAndMissingValues) {
  const CfgCase cases[] = {
      {"w", 0, 1, nullptr, 0},
      {"W", 2, 640, nullptr, 0},
      {"w", 1, 0, "640", 0},
      {"ratio", 3, 2, nullptr, 0},   // "/Ratio 2.9": truncated toward zero
      {"neg", 3, -3, nullptr, 0},    // "-3.7"
      {"neg", 2, -3, nullptr, 0},
      {"name", 1, 0, "hello", 0},
      {"name", 2, 0, nullptr, 0},    // atoi of a word
      {"x", 1, 0, "-y", 0},          // the following entry as it is
      {"y", 0, 1, nullptr, 0},
      {"dup", 2, 1, nullptr, 0},     // the first match wins
      {"missing", 0, 0, nullptr, 0},
      {"missing", 1, 0, nullptr, 0},
      {"-w", 0, 1, nullptr, 0},      // "--w": only the first character is the switch mark
      {"", 0, 0, nullptr, 0},
      {"last", 0, 1, nullptr, 0},
      {"last", 1, -1, nullptr, SYS_ERR_ARG},
      {"last", 2, -1, nullptr, SYS_ERR_ARG},
      {"last", 3, -1, nullptr, SYS_ERR_ARG},
      {nullptr, 0, -1, nullptr, SYS_ERR_ARG},
      {"w", 7, -1, nullptr, SYS_ERR_ARG},
  };
  InChild([&] {
    for (const char *arg : {"/opt/demo/show", "-W", "640", "/Ratio", "2.9", "-neg", "-3.7", "-name", "hello", "-x",
                            "-y", "-dup", "1", "-dup", "2", "show", "--w", "-last"})
      ASSERT_EQ(SYS_CfgAdd(arg), 0);
    EXPECT_EQ(SYS_CfgCount(), 18);
    EXPECT_STREQ(SYS_CfgEntry(0), "/opt/demo/show");
    EXPECT_EQ(SYS_CfgEntry(18), nullptr);
    EXPECT_EQ(SYS_CfgEntry(-1), nullptr);
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " kind " + std::to_string(c.kind));
      errClear();
      intptr_t got = SYS_CfgGet(c.name, c.kind);
      if (c.text)
        EXPECT_STREQ(reinterpret_cast<const char *>(got), c.text);
      else
        EXPECT_EQ(got, c.value);
      EXPECT_EQ(errGetLastError(), c.error);
    }
  });
}

TEST(CfgGet, EntriesAreCopiesAndTracked) {
  InChild([] {
    char arg[] = "-Mode";
    SYS_CfgAdd("prog");
    SYS_CfgAdd(arg);
    arg[1] = 'X';
    EXPECT_EQ(SYS_CfgGet("mode", 0), 1);
    EXPECT_EQ(SYS_CfgGet("Xode", 0), 0);
    ASSERT_EQ(SYS_MemInfo("blocks.txt"), 0);
    const std::string report = ReadFile("blocks.txt");
    EXPECT_NE(report.find("StrDup: -Mode -> 6 bytes"), std::string::npos) << report;
    EXPECT_NE(report.find("] SYS_CfgAdd -> 16 bytes"), std::string::npos) << report;
    std::remove("blocks.txt");
  });
}

// --- error state -----------------------------------------------------------

std::vector<std::pair<int, std::string>> g_calls;
int g_seen_inside = -1;

int Callback(int code, const char *text) {
  g_calls.emplace_back(code, text);
  g_seen_inside = errGetLastError();  // the callback may use the error state
  return 42;
}

TEST(ErrorState, CodeCallbackAndReadAndClear) {
  InChild([] {
    errSetLastError(SYS_ERR_NOMEM);
    EXPECT_EQ(errGetLastError(), SYS_ERR_NOMEM);
    EXPECT_EQ(errGetLastError(), 0);
    errSetLastError(7);
    errClear();
    EXPECT_EQ(errGetLastError(), 0);

    EXPECT_EQ(errSetLastErrorEx(SYS_ERR_NOTFOUND, "no callback yet"), 0);
    EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);

    errSetCallback(Callback);
    EXPECT_EQ(errSetLastErrorEx(SYS_ERR_HANDLER, nullptr), 0);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);

    EXPECT_EQ(errSetLastErrorEx(SYS_ERR_NOTFOUND, "demo.ogg"), 42);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0], std::make_pair(1, std::string("demo.ogg")));
    EXPECT_EQ(g_seen_inside, SYS_ERR_NOTFOUND);

    errSetCallback(nullptr);
    EXPECT_EQ(errSetLastErrorEx(SYS_ERR_NOTFOUND, "demo.ogg"), 0);
    EXPECT_EQ(g_calls.size(), 1u);
  });
}

}  // namespace
