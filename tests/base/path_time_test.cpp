// Well-known paths, directory creation and the show clock.
#include <sys/stat.h>

#include "child.h"

namespace {

using namespace basetest;

// --- paths -------------------------------------------------------------------

struct PathCase {
  const char *label;
  std::vector<std::pair<const char *, const char *>> env;  // variables set for the case
  const char *program;                                     // entry 0 of the argument list
  unsigned kind;
  const char *name;
  const char *expected;  // null: no path
  int error;
};

const PathCase kPathCases[] = {
    {"none_kind", {{"HOME", "/home/tester"}}, "/opt/demo/show", 0, "a.txt", nullptr, 0},
    {"kind_6", {{"HOME", "/home/tester"}}, "/opt/demo/show", 6, "a.txt", nullptr, SYS_ERR_ARG},
    {"huge_kind", {{"HOME", "/home/tester"}}, "/opt/demo/show", 0xFFFFFFFFu, "a.txt", nullptr, SYS_ERR_ARG},
    {"system", {}, "/opt/demo/show", 1, "a.txt", "/opt/demo/a.txt", 0},
    {"system_empty_name", {}, "/opt/demo/show", 1, "", "/opt/demo/", 0},
    {"system_bare_program", {}, "show", 1, "a.txt", "./a.txt", 0},
    {"system_null_name", {}, "/opt/demo/show", 1, nullptr, "/opt/demo/", 0},
    {"home", {{"HOME", "/home/tester"}}, "/opt/demo/show", 2, "a.txt", "/home/tester/a.txt", 0},
    {"home_empty_name", {{"HOME", "/home/tester"}}, "/opt/demo/show", 2, "", "/home/tester/", 0},
    {"home_backslashes", {{"HOME", "/home/tester"}}, "/opt/demo/show", 2, "sub\\dir\\a.txt",
     "/home/tester/sub/dir/a.txt", 0},
    {"home_backslash_in_variable", {{"HOME", "\\\\server\\tester"}}, "/opt/demo/show", 2, "a", "//server/tester/a", 0},
    {"homedrive_alone", {{"HOMEDRIVE", "C:"}}, "/opt/demo/show", 2, "", "C:/", 0},
    {"homedrive_before_homepath", {{"HOMEDRIVE", "C:"}, {"HOMEPATH", "/users/hp"}}, "/opt/demo/show", 2, "",
     "C:/", 0},
    {"homepath", {{"HOMEPATH", "/users/hp"}}, "/opt/demo/show", 2, "a", "/users/hp/a", 0},
    {"userprofile", {{"USERPROFILE", "/users/up"}}, "/opt/demo/show", 2, "a", "/users/up/a", 0},
    {"home_before_others", {{"HOME", "/home/tester"}, {"HOMEDRIVE", "C:"}, {"USERPROFILE", "/u"}}, "/opt/demo/show",
     2, "a", "/home/tester/a", 0},
    {"home_single_slash", {{"HOME", "/"}, {"HOMEDRIVE", "C:"}}, "/opt/demo/show", 2, "a", "/opt/demo/a", 0},
    {"home_single_backslash", {{"HOME", "\\"}}, "/opt/demo/show", 2, "a", "/opt/demo/a", 0},
    {"no_home_at_all", {}, "/opt/demo/show", 2, "a", "/opt/demo/a", 0},
    {"no_home_bare_program", {}, "show", 2, "a", "show/a", 0},
    {"home_config", {{"HOME", "/home/tester"}}, "/opt/demo/show", 3, "show.cfg", "/home/tester/.brisk/config/show.cfg",
     0},
    {"desktop_default", {{"HOME", "/home/tester"}, {"XDG_CONFIG_HOME", "/nonexistent"}}, "/opt/demo/show", 4, "a",
     "/home/tester/Desktop/a", 0},
    {"temp", {{"TEMP", "/var/t"}, {"TMPDIR", "/var/other"}}, "/opt/demo/show", 5, "a", "/var/t/a", 0},
    {"tmpdir", {{"TMPDIR", "/var/other"}}, "/opt/demo/show", 5, "a", "/var/other/a", 0},
    {"no_temp", {}, "/opt/demo/show", 5, "a", "/tmp/a", 0},
    {"temp_backslashes", {{"TEMP", "C:\\Temp"}}, "/opt/demo/show", 5, "x\\y", "C:/Temp/x/y", 0},
};

// Only the variables of the case are set.
void SetEnvironment(const std::vector<std::pair<const char *, const char *>> &env) {
  for (const char *var : {"HOME", "HOMEDRIVE", "HOMEPATH", "USERPROFILE", "TEMP", "TMPDIR", "XDG_CONFIG_HOME"})
    unsetenv(var);
  for (const auto &[name, value] : env) setenv(name, value, 1);
}

class PathGet : public Scratch, public ::testing::WithParamInterface<PathCase> {};

TEST_P(PathGet, Kinds) {
  const PathCase &c = GetParam();
  InChild([&] {
    SetEnvironment(c.env);
    SYS_CfgAdd(c.program);
    errSetLastError(99);
    char *path = SYS_PathGet(c.kind, c.name);
    EXPECT_EQ(errGetLastError(), c.error);
    if (!c.expected) {
      EXPECT_EQ(path, nullptr);
      return;
    }
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, c.expected);
    SYS_MemFree(path);
  });
}

INSTANTIATE_TEST_SUITE_P(Cases, PathGet, ::testing::ValuesIn(kPathCases),
                         [](const auto &info) { return std::string(info.param.label); });

class Paths : public Scratch {};

TEST_F(Paths, DesktopFromTheUserDirectoriesFile) {
  const std::string config = (dir_ / "config").string();
  std::filesystem::create_directories(config);
  WriteFile(config + "/user-dirs.dirs",
            "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
            "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  InChild([&] {
    SetEnvironment({{"HOME", "/home/tester"}, {"XDG_CONFIG_HOME", config.c_str()}});
    SYS_CfgAdd("/opt/demo/show");
    char *path = SYS_PathGet(SYS_PATH_DESKTOP, "note.txt");
    EXPECT_STREQ(path, "/home/tester/Schreibtisch/note.txt");
    SYS_MemFree(path);
  });
}

TEST_F(Paths, HomeBaseNameAndTags) {
  InChild([] {
    SetEnvironment({{"HOME", "/home/tester"}});
    StartBase({"/opt/demo/show", "-v", "-debug-memalloc"});
    static const char base[] = ".other";
    EXPECT_EQ(SYS_PathSetHomeBase(base), base);
    char *cfg = SYS_PathGet(SYS_PATH_HOMECFG, "a");
    EXPECT_STREQ(cfg, "/home/tester/.other/config/a");
    char *paths[] = {cfg, SYS_PathGet(SYS_PATH_HOME, "a"), SYS_PathGet(SYS_PATH_TEMP, "a"),
                     SYS_PathGet(SYS_PATH_SYSTEM, "a"), SYS_PathGet(SYS_PATH_DESKTOP, "a")};
    // The allocation lines name the tag in full.
    const std::string log = ReadFile("debug.log");
    const char *tags[] = {"home_cfgdir", "home_dir", "tmp", "system_dir", "home_cfgdir"};
    for (size_t i = 0; i < 5; ++i) {
      char address[32];
      std::snprintf(address, sizeof address, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(paths[i]) - 56));
      EXPECT_NE(log.find(std::string(address) + " 'SYS_PathGet: " + tags[i] + "'\n"), std::string::npos)
          << tags[i] << "\n" << log;
    }
    for (char *&p : paths) SYS_MemFree(p);
    SYS_BaseDone();
  });
}

TEST_F(Paths, MkDirCreatesMissingParents) {
  EXPECT_EQ(SYS_MkDir("one"), 0);
  EXPECT_TRUE(std::filesystem::is_directory("one"));
  EXPECT_EQ(SYS_MkDir("one"), 1);  // exists already

  EXPECT_EQ(SYS_MkDir("a/b/c/d"), 0);
  EXPECT_TRUE(std::filesystem::is_directory("a/b/c/d"));
  EXPECT_EQ(SYS_MkDir("a/b/c/d"), 1);
  EXPECT_EQ(SYS_MkDir("a/b/e"), 0);

  EXPECT_EQ(SYS_MkDir("t1/t2/"), 0);  // a trailing separator
  EXPECT_TRUE(std::filesystem::is_directory("t1/t2"));

  const std::string absolute = (dir_ / "abs1" / "abs2").string();
  EXPECT_EQ(SYS_MkDir(absolute.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(absolute));

  // Nothing can be made below a plain file: that is a failure, not a success.
  WriteFile("plain", "x");
  EXPECT_EQ(SYS_MkDir("plain/sub"), 1);
  EXPECT_EQ(SYS_MkDir("plain/sub/deeper"), 1);
  EXPECT_EQ(SYS_MkDir(""), 1);
  EXPECT_EQ(SYS_MkDir(nullptr), 1);
}

// --- the show clock ------------------------------------------------------------
// Readings are bounded by the raw tick counter read around them, so the checks
// hold however slow the machine is.

TEST(Timer, AdjustMovesTheReading) {
  const unsigned t0 = SYS_TimerTicks();
  SYS_TimerReset();
  EXPECT_EQ(SYS_TimerSetAdjust(-1000), -1000);
  const int reading = SYS_TimerGet();
  const unsigned t1 = SYS_TimerTicks();
  EXPECT_GE(reading, 1000);
  EXPECT_LE(reading, 1000 + static_cast<int>(t1 - t0));
  EXPECT_EQ(SYS_TimerSetAdjust(400), -600);
  EXPECT_LE(SYS_TimerGet(), 600 + static_cast<int>(SYS_TimerTicks() - t0));
}

TEST(Timer, StepBackPastZeroRestartsTheClock) {
  SYS_TimerReset();
  EXPECT_EQ(SYS_TimerSetAdjust(1000000), 1000000);
  const unsigned t0 = SYS_TimerTicks();
  EXPECT_EQ(SYS_TimerGet(), 0);
  EXPECT_EQ(SYS_TimerSetAdjust(0), 0);  // the adjustment went with the restart
  const int reading = SYS_TimerGet();
  EXPECT_GE(reading, 0);
  EXPECT_LE(reading, static_cast<int>(SYS_TimerTicks() - t0));
}

TEST(Timer, PauseHoldsTheReadingAndResumeContinuesFromIt) {
  SYS_TimerReset();
  SYS_TimerSetAdjust(-3000);
  SYS_TimerPause();
  const int held = SYS_TimerGet();
  EXPECT_GE(held, 3000);
  SYS_Sleep(60);
  EXPECT_EQ(SYS_TimerGet(), held);
  SYS_Sleep(60);
  EXPECT_EQ(SYS_TimerGet(), held);
  const unsigned t0 = SYS_TimerTicks();
  SYS_TimerPause();
  const int resumed = SYS_TimerGet();
  const unsigned t1 = SYS_TimerTicks();
  EXPECT_GE(resumed, held);
  EXPECT_LE(resumed - held, static_cast<int>(t1 - t0));  // the pause itself does not count
}

TEST(Timer, ResetKeepsThePause) {
  SYS_TimerReset();
  SYS_TimerPause();
  SYS_TimerReset();
  const int a = SYS_TimerGet();
  SYS_Sleep(30);
  EXPECT_EQ(SYS_TimerGet(), a);
  SYS_TimerPause();
  SYS_TimerReset();
}

TEST(Timer, SleepWaitsAtLeastTheTime) {
  SYS_Sleep(0);
  SYS_Sleep(-5);
  const unsigned t0 = SYS_TimerTicks();
  SYS_Sleep(30);
  EXPECT_GE(SYS_TimerTicks() - t0, 30u);
}

}  // namespace
