// The show's program end to end under the X server: it starts, presents
// frames, answers real key presses sent with xdotool, and ends with exit code
// 0. The program is followed through its log (-v) and its trace file
// (BRISK_SHOW_TRACE, see show/show.h); the tests wait on those, never on time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "show/font.h"
#include "show/overlay.h"
#include "show/timeline.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using rttest::FindLine;
using rttest::InChild;
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

// --- the debug overlay as it stands on the screen ------------------------------

// The lit pixels of one cell of the debug font's grid, 4 by 6 pixels: bit
// y * 4 + x for the pixel x, y from the cell's top left corner.
using CellBits = std::uint32_t;

// The cell character c draws, from the font table: its glyph, or the blank
// of the space for a code outside 32 to 127 (such as the 0 that ends the
// rate line).
CellBits GlyphCell(unsigned char c) {
  const int g = c >= 32 && c < 32 + DEBUG_FONT_GLYPHS ? c - 32 : 0;
  const int x0 = (g % 16) * DEBUG_FONT_CELL_W, y0 = (g / 16) * DEBUG_FONT_CELL_H;
  CellBits bits = 0;
  for (int y = 0; y < DEBUG_FONT_CELL_H; ++y)
    for (int x = 0; x < DEBUG_FONT_CELL_W; ++x) {
      const int tx = x0 + x, ty = y0 + y;  // texel of the 64 by 64 font texture
      if (FontPixel(ty * 8 + tx / 8, tx % 8)) bits |= CellBits{1} << (y * DEBUG_FONT_CELL_W + x);
    }
  return bits;
}

// Cells of the status line read back: far more than the line takes, so that
// the blank cells after it are read too.
constexpr int kStatusCells = 64;

// Row 1 of the grid from column 1 on, read back from a screenshot.
struct OverlayRow {
  std::vector<CellBits> cells;
  // The characters: for each cell the first one of codes 32 to 127 whose
  // glyph it shows ('?' for a cell that shows none).
  std::string text;
  std::vector<int> unknown;  // columns (from 1) whose cell matches no glyph
};

// Loads a screenshot of the 800 by 600 frame with the image loader and reads
// the status line's row. A pixel is lit when every colour channel is above
// 200: the overlay draws white on the fixture's black.
void ReadStatusRow(const char *file, OverlayRow &row) {
  txBitmap *shot = txLoad(file);
  ASSERT_NE(shot, nullptr) << file << " does not load";
  const int width = shot->width, height = shot->height, bpp = shot->bpp, bytes = bpp / 8;
  const unsigned char *pixels = shot->image[0];
  if (width != 800 || height != 600 || (bpp != 24 && bpp != 32)) {
    txFree(&shot);
    FAIL() << file << ": " << width << " by " << height << ", " << bpp << " bits per pixel";
  }
  auto lit = [&](int x, int y) {
    const unsigned char *p = pixels + (static_cast<std::size_t>(y) * width + x) * bytes;
    return p[0] > 200 && p[1] > 200 && p[2] > 200;
  };
  row = {};
  for (int column = 1; column <= kStatusCells; ++column) {
    CellBits bits = 0;
    for (int y = 0; y < DEBUG_FONT_CELL_H; ++y)
      for (int x = 0; x < DEBUG_FONT_CELL_W; ++x)
        if (lit(column * DEBUG_FONT_CELL_W + x, DEBUG_FONT_CELL_H + y))
          bits |= CellBits{1} << (y * DEBUG_FONT_CELL_W + x);
    row.cells.push_back(bits);
    char c = '?';
    for (int code = 32; code < 32 + DEBUG_FONT_GLYPHS && c == '?'; ++code)
      if (GlyphCell(static_cast<unsigned char>(code)) == bits) c = static_cast<char>(code);
    if (c == '?') row.unknown.push_back(column);
    row.text += c;
  }
  txFree(&shot);
}

// A cell as a picture, for failure messages: rows of '#' and '.' split by '/'.
std::string CellPicture(CellBits bits) {
  std::string out;
  for (int y = 0; y < DEBUG_FONT_CELL_H; ++y) {
    if (y) out += '/';
    for (int x = 0; x < DEBUG_FONT_CELL_W; ++x) out += bits >> (y * DEBUG_FONT_CELL_W + x) & 1 ? '#' : '.';
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

// With -debug the overlay's status line stands in row 1 of the debug font's
// grid. After three Page Down presses the line read back from the screen,
// cell by cell against the font table, is the status line of the clock it
// shows: the frame number, step and pattern follow from that clock, the
// rate is the one shown, and the clock stands past the keys' 15 s.
TEST_F(ShowProgram, DebugOverlayShowsTheStatusLineOfTheClock) {
  Program p(moth_, {"-debug"}, Env());
  ASSERT_TRUE(FirstFrame(p)) << p.Err();
  for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(PressClockKey(p, "Next"));
  auto keys = TraceLines("clock-key");
  ASSERT_EQ(keys.size(), 3u) << p.Err();
  const int keyClock = std::stoi(keys.back()[3]);
  ASSERT_GE(keyClock, 15000);

  std::string window = rttest::CommandOutput("xdotool search --onlyvisible --pid " + std::to_string(p.pid()));
  window = window.substr(0, window.find('\n'));
  ASSERT_FALSE(window.empty()) << "no visible window of the show";

  // The loader needs the base library: started in a child of its own, with
  // a log apart from the show's.
  InChild([&] {
    rttest::StartBase({"./program_test", "-debug-log", "capture.log"});
    txInit(nullptr);
    txOptions(TX_OPT_QUALITY, 0);
    txOptions(TX_OPT_FLIP, 0);
    // The clock as drawn, " frame : " and the frame number, the rate line
    // (its code 0 a blank cell), step and pattern, blank cells after it.
    const std::regex shape(R"(^(\d+) frame : \d+ FPS : \[(\d+\.\d\d)\]  \d+ / \d+ *$)");
    OverlayRow row;
    std::smatch m;
    int t = -1;
    // A capture may show a frame from before the keys acted: capture again
    // until the clock on the screen has passed them.
    for (int tries = 0; t < keyClock; ++tries) {
      ASSERT_LT(tries, 100) << "the clock on the screen stayed under " << keyClock << ": " << row.text;
      ASSERT_EQ(std::system(("timeout 30 import -window " + window + " PNG24:shot.png").c_str()), 0);
      ASSERT_NO_FATAL_FAILURE(ReadStatusRow("shot.png", row));
      for (int column : row.unknown)
        ADD_FAILURE() << "column " << column << " matches no glyph: "
                      << CellPicture(row.cells[static_cast<std::size_t>(column - 1)]);
      ASSERT_TRUE(row.unknown.empty()) << row.text;
      ASSERT_TRUE(std::regex_match(row.text, m, shape)) << "not a status line: \"" << row.text << '"';
      t = std::stoi(m[1]);
    }
    EXPECT_GE(t, 15000);

    // The line the overlay draws for that clock and rate; step and pattern
    // in the timeline's extended precision.
    const auto step = static_cast<std::int32_t>((t % SHOW_PATTERN_MS) / 80.9L);
    const std::int32_t pattern = t / SHOW_PATTERN_MS;
    const std::string rateLine = "FPS : [" + m[2].str() + "]" + std::string(1, '\0');
    const ShortString expected = StatusLine(t, step, pattern, rateLine);
    const std::string_view line = expected.view();
    ASSERT_LT(line.size(), static_cast<std::size_t>(kStatusCells)) << line;
    for (int i = 0; i < kStatusCells; ++i) {
      const unsigned char c = i < static_cast<int>(line.size()) ? static_cast<unsigned char>(line[i]) : ' ';
      EXPECT_EQ(CellPicture(row.cells[static_cast<std::size_t>(i)]), CellPicture(GlyphCell(c)))
          << "column " << i + 1 << " (character code " << int{c} << ") of \"" << row.text << '"';
    }
  });

  ASSERT_TRUE(Press(p, "Escape"));
  ASSERT_EQ(p.Wait(), 0) << p.Err();
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
