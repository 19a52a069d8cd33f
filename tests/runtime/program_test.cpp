// The show's program end to end under the X server: it starts, presents
// frames, answers real key presses sent with xdotool, and ends with exit code
// 0. The program is followed through its log (-v) and its trace file
// (BRISK_SHOW_TRACE, see show/show.h); the tests wait on those, never on time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using rttest::FindLine;
using rttest::Lines;
using rttest::Program;
using rttest::ReadFile;
using rttest::WaitFor;
using rttest::Xdotool;

// Lines of the trace file that start with word, split into their fields.
std::vector<std::vector<std::string>> TraceLines(const std::string &word) {
  std::vector<std::vector<std::string>> out;
  for (const auto &line : Lines(ReadFile("trace.txt"))) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    if (!fields.empty() && fields[0] == word) out.push_back(fields);
  }
  return out;
}

class ShowProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X server";
    moth_ = rttest::CopyShow();
    ASSERT_FALSE(moth_.empty()) << "the show's executable was not built";
    ASSERT_TRUE(rttest::WriteOgg("demo.ogg", 2.0));
    ASSERT_TRUE(rttest::WriteShowFixture());
    fs::remove("trace.txt");
    fs::remove("debug.log");
  }

  std::vector<std::string> Env(std::vector<std::string> more = {}) {
    std::vector<std::string> env = {"BRISK_BATCH=1", "ALSOFT_DRIVERS=null",
                                    "BRISK_SHOW_TRACE=" + (fs::current_path() / "trace.txt").string()};
    for (auto &e : more) env.push_back(e);
    return env;
  }

  // Waits for the first presented frame; false when the program ended first.
  static bool FirstFrame(Program &p) {
    return WaitFor([&] { return !TraceLines("first-frame").empty() || !p.Running(); }) &&
           !TraceLines("first-frame").empty();
  }

  // A real key press for the program's window. The window is given the
  // keyboard focus first, as a click would: the test display has no window
  // manager, and windows of other tests may have taken the focus or left it
  // nowhere.
  static bool Press(Program &p, const std::string &key) {
    Xdotool("search --onlyvisible --pid " + std::to_string(p.pid()) + " windowfocus --sync");
    return Xdotool("key " + key);
  }

  // Presses a key and waits until the show has taken it (a new clock-key
  // line) or has ended.
  static void PressClockKey(Program &p, const std::string &key) {
    std::size_t before = TraceLines("clock-key").size();
    ASSERT_TRUE(Press(p, key));
    WaitFor([&] { return TraceLines("clock-key").size() > before || !p.Running(); });
  }

  std::string moth_;
};

TEST_F(ShowProgram, RunsUntilEscapeAndLogsItsStartUp) {
  Program p(moth_, {"-v"}, Env());
  ASSERT_TRUE(FirstFrame(p)) << p.Err();
  ASSERT_TRUE(Press(p, "Escape"));
  ASSERT_EQ(p.Wait(), 0) << p.Err();

  auto end = TraceLines("end");
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0][1], "1") << "ended by the quit flag";
  EXPECT_LT(std::stoi(end[0][2]), 67314);
  EXPECT_GE(std::stoi(end[0][3]), 1) << "frames presented";
  EXPECT_EQ(p.Out().find("GL_ERROR:"), std::string::npos) << p.Out();

  auto lines = Lines(ReadFile("debug.log"));
  long at = FindLine(lines, "--- brisk!quantoven application framework 0.85");
  EXPECT_GE(at, 0);
  at = FindLine(lines, "[init] --- subsystems", at);
  ASSERT_GE(at, 0);
  for (const char *call : {"[init] call : Window manager ...", "[init] call : GL unit ...",
                           "[init] call : GLU unit ...", "[init] call : Texture loader ..."}) {
    long next = FindLine(lines, call, at);
    EXPECT_GT(next, at) << call;
    at = next;
  }
  EXPECT_GT(FindLine(lines, "[init] --- end", at), at);

  // The renderer the capability check names is the driver's own, as the
  // window manager's information lines report it.
  std::string wm_renderer, gl_renderer;
  for (const auto &l : lines) {
    auto k = l.find(" - GL_RENDERER: ");
    if (l.rfind("[wm]", 0) == 0 && k != std::string::npos) wm_renderer = l.substr(k + 16);
    if (l.rfind("[gl] - renderer: ", 0) == 0) gl_renderer = l.substr(17);
  }
  EXPECT_FALSE(gl_renderer.empty());
  EXPECT_EQ(gl_renderer, wm_renderer);

  long check = FindLine(lines, "[gl] --- check extensions:");
  ASSERT_GE(check, 0);
  for (int i = 1; i <= 12; ++i) {
    const std::string &l = lines.at(static_cast<std::size_t>(check + i));
    EXPECT_EQ(l.rfind("[gl] - GL_", 0), 0u) << l;
    EXPECT_EQ(l.substr(l.size() - 9), "available") << l;
  }
  bool max_size = false;
  for (const auto &l : lines)
    if (l.rfind("[gl] - Maximum texture size : ", 0) == 0 && std::stoi(l.substr(30)) > 0) max_size = true;
  EXPECT_TRUE(max_size);
  // A normal end runs no stop procedures and leaves the log open.
  EXPECT_LT(FindLine(lines, "[exit] --- subsystems"), 0);
  EXPECT_LT(FindLine(lines, "--- End of log."), 0);
}

// Page Down, Right and the others move the clock only with -debug; each press
// acts once. The trace records the adjustment after every clock key.
TEST_F(ShowProgram, ClockKeysMoveTheClockOnlyInDebugMode) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> keys;
    std::vector<int> adjustments;  // after each key; empty: no key acts
  };
  const Case cases[] = {
      {{"-debug"}, {"Next", "Next", "Next"}, {-5000, -10000, -15000}},
      {{"/DEBUG"}, {"Right", "Right"}, {-1000, -2000}},
      {{}, {"Next"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.empty() ? "no switch" : c.args[0]);
    fs::remove("trace.txt");
    Program p(moth_, c.args, Env());
    ASSERT_TRUE(FirstFrame(p)) << p.Err();
    for (const auto &key : c.keys) {
      if (c.adjustments.empty()) {
        ASSERT_TRUE(Press(p, key));
      } else {
        PressClockKey(p, key);
      }
    }
    ASSERT_TRUE(Press(p, "Escape"));
    ASSERT_EQ(p.Wait(), 0) << p.Err();
    auto keys = TraceLines("clock-key");
    ASSERT_EQ(keys.size(), c.adjustments.size());
    for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(std::stoi(keys[i][2]), c.adjustments[i]);
    if (!keys.empty()) {
      // The clock stands at least as far on as the keys moved it.
      EXPECT_GE(std::stoi(keys.back()[3]), -c.adjustments.back());
    }
    ASSERT_EQ(TraceLines("end").size(), 1u);
  }
}

TEST_F(ShowProgram, EndsByItselfAtTheEndOfTheShow) {
  Program p(moth_, {"-debug"}, Env());
  ASSERT_TRUE(FirstFrame(p)) << p.Err();
  // Page Down until the clock passes the end; no Escape is sent.
  for (int i = 0; i < 20 && p.Running(); ++i) PressClockKey(p, "Next");
  ASSERT_EQ(p.Wait(), 0) << p.Err();
  auto end = TraceLines("end");
  ASSERT_EQ(end.size(), 1u);
  EXPECT_EQ(end[0][1], "0") << "not ended by the quit flag";
  EXPECT_GE(std::stoi(end[0][2]), 67314);
}

TEST_F(ShowProgram, MissingGLULibraryIsFatalWithExitCodeZero) {
  Program p(moth_, {"-v"},
            Env({"LD_PRELOAD=" BRISK_HIDE_LIB, "BRISK_HIDE_LIBS=libGLU.so.1",
                 "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"}));
  ASSERT_EQ(p.Wait(), 0) << p.Err();
  EXPECT_NE(p.Err().find("Error!: Sorry, OpenGL Utils lib not loaded. Please check your configuraion.\n"),
            std::string::npos)
      << p.Err();
  EXPECT_TRUE(TraceLines("first-frame").empty());
  auto lines = Lines(ReadFile("debug.log"));
  long at = FindLine(lines, "Sorry, OpenGL Utils lib not loaded. Please check your configuraion.");
  ASSERT_GE(at, 0);
  const std::vector<std::string> stops = {
      "[exit] --- subsystems",        "[exit] call : Uninit texture loader ...", "[exit] call : Uninit GLU unit ...",
      "[exit] call : Uninit GL unit ...", "[exit] call : Uninit window manager ...", "[exit] call : Release base lib ...",
      "[exit]"};
  for (const auto &s : stops) {
    long next = FindLine(lines, s, at);
    EXPECT_GT(next, at) << s;
    at = next;
  }
  EXPECT_GT(FindLine(lines, "--- End of log.", at), at);
}

}  // namespace
