// Window manager start-up, showing a window with its GL context (the
// information lines, a cleared frame read back from GL and from the X
// server), and the options.
#include <GL/gl.h>

#include <regex>

#include "base/base.h"
#include "image/gl_stub.h"
#include "support.h"
#include "wm/internal.h"

namespace {

using namespace wmtest;

// Index of the first entry at or after `from` matching the pattern, or -1.
long FindMatch(const std::vector<std::string> &lines, const std::string &pattern, long from = 0) {
  const std::regex re(pattern);
  for (long i = from; i < static_cast<long>(lines.size()); ++i)
    if (std::regex_match(lines[i], re)) return i;
  return -1;
}

TEST(WmStart, WritesItsLinesAndRecordsTheDesktop) {
  ASSERT_EQ(g_init_result, 0);
  EXPECT_EQ(g_init_error, 0);

  // The prefix of every window manager line: tag, file, line and function.
  EXPECT_GE(FindMatch(LogLines(), R"(\[wm\]\[wm\.cpp:[0-9]+:wmInit\(\)\]   - initialize WGL subsystem\.\.\.)"), 0);
  std::vector<std::string> wm = ModuleMessages("wm");
  long wgl = FindMatch(wm, R"(  - initialize WGL subsystem\.\.\.)");
  long done = FindMatch(wm, R"( \.\.\.done\.)", wgl);
  long dx = FindMatch(wm, R"(  - initialize DirectX subsystem\.\.\.)", done);
  EXPECT_GE(wgl, 0);
  EXPECT_GT(done, wgl);
  EXPECT_GT(dx, done);
  EXPECT_GT(FindMatch(wm, R"( \.\.\.done\.)", dx), dx);

  std::vector<std::string> gl = ModuleMessages("wm][gl");
  ASSERT_GE(gl.size(), 2u);
  EXPECT_EQ(gl[0], "loading libGL.so.1 ...");
  EXPECT_EQ(gl[1], "... loaded.");
  EXPECT_TRUE(Contains(LogLines(), "[gl_stub]  ! load GL module."));

  std::vector<std::string> dpms = ModuleMessages("wm][dpms");
  EXPECT_EQ(dpms, (std::vector<std::string>{"ScreenSaver: 1 (1)", "DPMS: 1 (1)", "ScreenSaver & DPMS disabled."}));

  std::vector<std::string> dm = ModuleMessages("wm][dm");
  ASSERT_FALSE(dm.empty());
  EXPECT_TRUE(std::regex_match(dm[0], std::regex(R"(Screen size: 800x600 [0-9]+\.[0-9]{2}Hz 32bits)"))) << dm[0];

  // The desktop options answer without a window.
  EXPECT_EQ(wmOptions(nullptr, WM_OPT_DESKTOPWIDTH, 0), 800);
  EXPECT_EQ(wmOptions(nullptr, WM_OPT_DESKTOPHEIGHT, 0), 600);
  EXPECT_EQ(wmOptions(nullptr, WM_OPT_DESKTOPBPP, 0), 32);
  EXPECT_GE(wmOptions(nullptr, WM_OPT_DESKTOPREFRESH, 0), 0);
  EXPECT_EQ(errGetLastError(), 0);
}

TEST(WmOptions, WindowOptionsRefuseANullWindow) {
  for (int option : {2, 3, 4, 9, 10, 11, 12, 13, 14, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 200, -1}) {
    errClear();
    EXPECT_EQ(wmOptions(nullptr, option, 0), -1) << "option " << option;
    EXPECT_EQ(errGetLastError(), WM_ERR_NEEDWINDOW) << "option " << option;
  }
  errClear();
  EXPECT_EQ(wmHideWindow(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(wmDestroyWindow(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(wmShowWindow(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(wmSwapBuffers(nullptr), 0);
  EXPECT_EQ(wmMakeCurrent(nullptr), 0);
}

TEST(WmShow, CreatesTheWindowWithACurrentContext) {
  X x;
  size_t log_start = ReadFile("debug.log").size();
  ShownWindow shown(20, 30, 160, 120);
  wm_window_t *w = shown.get();
  ASSERT_NE(w, nullptr);
  ASSERT_NE(w->hwnd, nullptr);
  EXPECT_EQ(w->hdc, w->hwnd);
  EXPECT_NE(w->hglrc, nullptr);
  EXPECT_GT(w->pixelFormatIndex, 0);
  EXPECT_EQ(w->pixelFormatSet, 1);
  // A 32-bit desktop: 24 colour bits with 8 of alpha, 24 of depth, double-buffered.
  EXPECT_EQ(w->pixelFormat.size, 40);
  EXPECT_EQ(w->pixelFormat.version, 1);
  EXPECT_EQ(w->pixelFormat.flags, 0x25u);
  EXPECT_EQ(w->pixelFormat.colorBits, 24);
  EXPECT_EQ(w->pixelFormat.alphaBits, 8);
  EXPECT_EQ(w->pixelFormat.depthBits, 24);
  EXPECT_EQ(w->pixelFormat.stencilBits, 0);

  // The X window: the class name, the client area where the record puts it.
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);
  EXPECT_EQ(x.ClassName(xw), "brisk!quantoven");
  int ox = -1, oy = -1, width = 0, height = 0;
  bool viewable = false;
  x.Origin(xw, &ox, &oy);
  x.Geometry(xw, &width, &height, &viewable);
  EXPECT_EQ(ox, 20);
  EXPECT_EQ(oy, 30);
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  EXPECT_TRUE(viewable);

  // The information lines of this window: five strings, then the nine limits,
  // in order. The extension list may pass the log's line limit, which cuts it
  // (and its line end), so the text is searched as a whole.
  std::string log = ReadFile("debug.log").substr(log_start);
  size_t at = 0;
  auto next = [&](const std::string &name, const std::string &value) {
    std::smatch m;
    std::regex re("\\[wm\\]\\[wm\\.cpp:[0-9]+:LogGLInfo\\(\\)\\]  - " + name + ": " + value);
    bool found = std::regex_search(log.cbegin() + static_cast<long>(at), log.cend(), m, re);
    if (found) at += static_cast<size_t>(m.position(0) + m.length(0));
    return found;
  };
  for (const char *name : {"GL_VENDOR", "GL_RENDERER", "GL_VERSION", "GL_SHADING_LANGUAGE_VERSION", "GL_EXTENSIONS"})
    EXPECT_TRUE(next(name, "[^\\n]+?")) << name;
  for (const char *name :
       {"GL_MAX_TEXTURE_UNITS", "GL_MAX_VERTEX_ATTRIBS_ARB", "GL_MAX_VERTEX_UNIFORM_COMPONENTS_ARB",
        "GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS_ARB", "GL_MAX_VARYING_FLOATS_ARB", "GL_MAX_TEXTURE_IMAGE_UNITS_ARB",
        "GL_MAX_TEXTURE_COORDS_ARB", "GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS_ARB",
        "GL_MAX_FRAGMENT_UNIFORM_COMPONENTS_ARB"})
    EXPECT_TRUE(next(name, "[1-9][0-9]*\\n")) << name;

  // The context is current: the framework's GL table draws into the window.
  ASSERT_NE(glFn.glClear, nullptr);
  ASSERT_NE(glFn.glReadPixels, nullptr);
  ASSERT_NE(glFn.glGetString(GL_VERSION), nullptr);
  glFn.glViewport(0, 0, 160, 120);
  glFn.glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
  glFn.glClear(GL_COLOR_BUFFER_BIT);
  unsigned char back[4] = {};
  glFn.glReadBuffer(GL_BACK);
  glFn.glReadPixels(80, 60, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, back);
  EXPECT_NEAR(back[0], 64, 1);
  EXPECT_NEAR(back[1], 128, 1);
  EXPECT_NEAR(back[2], 191, 1);
  EXPECT_EQ(glFn.glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(wmSwapBuffers(w), 1);
  // And the X server shows the presented frame.
  unsigned long shown_pixel = 0;
  EXPECT_TRUE(PumpUntil([&] {
    shown_pixel = x.Pixel(xw, 80, 60);
    auto near = [](unsigned long a, unsigned long b) { return (a > b ? a - b : b - a) <= 2; };
    return near(shown_pixel >> 16 & 0xFF, 64) && near(shown_pixel >> 8 & 0xFF, 128) &&
           near(shown_pixel & 0xFF, 191);
  })) << std::hex << shown_pixel;
  EXPECT_EQ(wmMakeCurrent(w), 1);
}

TEST(WmShow, ShowingAgainReplacesTheNativeWindow) {
  X x;
  ShownWindow shown(0, 0, 100, 100);
  wm_window_t *w = shown.get();
  ASSERT_NE(x.WaitFor(shown.title()), 0u);
  ASSERT_EQ(wmShowWindow(w), 0);
  EXPECT_NE(w->hglrc, nullptr);
  // The first native window is gone rather than left on screen without a record.
  EXPECT_TRUE(PumpUntil([&] { return x.Count(shown.title()) == 1; }));
  shown.Destroy();
  EXPECT_TRUE(PumpUntil([&] { return x.Count(shown.title()) == 0; }));
}

TEST(WmOptions, ValuesOfAWindow) {
  wm_window_t *w = wmCreateWindow(5, 6, 70, 80);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->style, WM_STYLE_DEFAULT);
  struct Case {
    int option;
    intptr_t expected;
  };
  for (const Case &c : {Case{WM_OPT_X, 5}, Case{WM_OPT_Y, 6}, Case{WM_OPT_WIDTH, 70}, Case{WM_OPT_HEIGHT, 80},
                        Case{2, 0}, Case{14, 0}, Case{99, 0}, Case{103, 0}, Case{107, 0}, Case{200, 0}}) {
    EXPECT_EQ(wmOptions(w, c.option, 1234), c.expected) << "option " << c.option;
    EXPECT_EQ(errGetLastError(), 0) << "option " << c.option;
  }
  EXPECT_EQ(wmOptions(w, WM_OPT_SETUSERDATA, reinterpret_cast<intptr_t>(&w)), 0);
  EXPECT_EQ(wmOptions(w, WM_OPT_GETUSERDATA, 0), reinterpret_cast<intptr_t>(&w));

  wm_conf_t conf{WM_KIND_GEOMETRY, 11, 12, 13, 14};
  EXPECT_EQ(wmOptions(w, WM_OPT_SETGEOMETRY, reinterpret_cast<intptr_t>(&conf)), 0);
  wm_conf_t read{77, 0, 0, 0, 0};
  EXPECT_EQ(wmOptions(w, WM_OPT_GETGEOMETRY, reinterpret_cast<intptr_t>(&read)), 0);
  EXPECT_EQ(read.kind, 77);  // untouched
  EXPECT_EQ(read.x, 11);
  EXPECT_EQ(read.y, 12);
  EXPECT_EQ(read.width, 13);
  EXPECT_EQ(read.height, 14);
  EXPECT_EQ(wmOptions(w, WM_OPT_GETGEOMETRY, 0), 0);
  EXPECT_EQ(wmOptions(w, WM_OPT_SETGEOMETRY, 0), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);

  // Style bits: borderless clears all of the initial ones, resizable the sizing frame.
  struct StyleCase {
    int option;
    intptr_t value;
    uint32_t style;
  };
  for (const StyleCase &c : {StyleCase{WM_OPT_BORDERLESS, 1, 0u}, StyleCase{WM_OPT_RESIZABLE, 1, WM_STYLE_SIZEBOX},
                             StyleCase{WM_OPT_BORDERLESS, 0, WM_STYLE_DEFAULT},
                             StyleCase{WM_OPT_RESIZABLE, 0, WM_STYLE_DEFAULT & ~WM_STYLE_SIZEBOX},
                             StyleCase{WM_OPT_RESIZABLE, 1, WM_STYLE_DEFAULT}}) {
    EXPECT_EQ(wmOptions(w, c.option, c.value), 0);
    EXPECT_EQ(w->style, c.style) << "option " << c.option << " = " << c.value;
  }
  EXPECT_EQ(w->borderless, 0);
  EXPECT_EQ(w->resizable, 1);

  // The title is an owned copy.
  std::string title = "first";
  wmOptions(w, WM_OPT_TITLE, reinterpret_cast<intptr_t>(title.c_str()));
  title = "changed";
  EXPECT_STREQ(w->title, "first");
  wmOptions(w, WM_OPT_TITLE, 0);
  EXPECT_EQ(w->title, nullptr);
  EXPECT_EQ(wmDestroyWindow(w), 0);
}

TEST(WmOptions, GeometryTitleAndStyleReachTheShownWindow) {
  X x;
  ShownWindow shown(10, 10, 120, 90);
  wm_window_t *w = shown.get();
  XID xw = x.WaitFor(shown.title());
  ASSERT_NE(xw, 0u);

  wm_conf_t conf{0, 40, 50, 200, 100};
  EXPECT_EQ(wmOptions(w, WM_OPT_SETGEOMETRY, reinterpret_cast<intptr_t>(&conf)), 0);
  EXPECT_TRUE(PumpUntil([&] {
    int ox = 0, oy = 0, width = 0, height = 0;
    bool viewable = false;
    x.Origin(xw, &ox, &oy);
    x.Geometry(xw, &width, &height, &viewable);
    return ox == 40 && oy == 50 && width == 200 && height == 100 && viewable;
  }));

  std::string renamed = shown.title() + " renamed";
  wmOptions(w, WM_OPT_TITLE, reinterpret_cast<intptr_t>(renamed.c_str()));
  EXPECT_TRUE(PumpUntil([&] { return x.Find(renamed) == xw; }));

  // Borderless on a shown window hides it, writes the style and shows it again.
  EXPECT_EQ(wmOptions(w, WM_OPT_BORDERLESS, 1), 0);
  EXPECT_EQ(w->style, 0u);
  EXPECT_TRUE(PumpUntil([&] {
    int width = 0, height = 0;
    bool viewable = false;
    x.Geometry(xw, &width, &height, &viewable);
    return viewable;
  }));
  EXPECT_EQ(wmOptions(w, WM_OPT_BORDERLESS, 0), 0);
  EXPECT_EQ(w->style, WM_STYLE_DEFAULT);

  EXPECT_EQ(wmHideWindow(w), 0);
  EXPECT_TRUE(PumpUntil([&] {
    int width = 0, height = 0;
    bool viewable = true;
    x.Geometry(xw, &width, &height, &viewable);
    return !viewable;
  }));
}

TEST(WmOptions, FullScreenFlagOnlyLogsOnceShown) {
  auto todo_lines = [] {
    int n = 0;
    for (const auto &m : ModuleMessages("wm"))
      if (std::regex_match(m, std::regex(R"( ! TODO: switch fullscreen \(wm\.cpp:[0-9]+\))"))) ++n;
    return n;
  };
  int before = todo_lines();
  wm_window_t *w = wmCreateWindow(0, 0, 64, 48);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(wmOptions(w, WM_OPT_FULLSCREEN, 1), 0);
  EXPECT_EQ(w->fullscreen, 1);
  EXPECT_EQ(todo_lines(), before);
  ASSERT_EQ(wmShowWindow(w), 0);
  EXPECT_EQ(wmOptions(w, WM_OPT_FULLSCREEN, 1), 0);
  EXPECT_EQ(todo_lines(), before + 1);
  EXPECT_EQ(wmDestroyWindow(w), 0);
}

TEST(WmOptions, CursorCounterSteps) {
  int start = brisk::wm::CursorCount();
  wm_window_t *w = wmCreateWindow(0, 0, 64, 48);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(wmOptions(w, WM_OPT_HIDECURSOR, 1), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 2);
  EXPECT_EQ(wmOptions(w, WM_OPT_HIDECURSOR, 1), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 4);
  EXPECT_EQ(w->cursorHidden, 1);
  // Showing applies the stored value once more.
  ASSERT_EQ(wmShowWindow(w), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 6);
  EXPECT_EQ(wmDestroyWindow(w), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 5);
  // Showing steps back up by two.
  w = wmCreateWindow(0, 0, 64, 48);
  EXPECT_EQ(wmOptions(w, WM_OPT_HIDECURSOR, 0), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 3);
  EXPECT_EQ(wmDestroyWindow(w), 0);
  EXPECT_EQ(brisk::wm::CursorCount(), start - 2);
}

}  // namespace
