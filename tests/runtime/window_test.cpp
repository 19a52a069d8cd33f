// The show's window glue and the frame loop's helpers, against the real
// window manager and Mesa under the X server, each case in a forked child.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/window.h"
#include "show/show.h"
#include "support.h"

namespace {

using rttest::FindLine;
using rttest::InChild;
using rttest::Lines;
using rttest::ReadFile;

void OpenWindow() {
  rttest::StartUnits({"./window_test", "-v"});
  SYS_InitSubsystems();
  std::int32_t w = -5, h = 7, fs = 0;
  OpenShowWindow("Window test", &w, &h, &fs);
  ASSERT_NE(showWindow, nullptr);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_EQ(fs, 1);
}

TEST(ShowWindow, OpensFullScreenWithItsCallbackAndTheCapabilityCheck) {
  InChild([] {
    OpenWindow();
    EXPECT_EQ(wmOptions(showWindow, WM_OPT_WIDTH, 0), 800);
    EXPECT_EQ(wmOptions(showWindow, WM_OPT_HEIGHT, 0), 600);
    EXPECT_STREQ(showWindow->title, "Window test");
    EXPECT_EQ(showWindow->callback, &ShowEvent);
    EXPECT_EQ(showWindow->cursorHidden, 1);
    EXPECT_EQ(showWindow->borderless, 1);
    EXPECT_EQ(showWindow->fullscreen, 1);
    EXPECT_GT(glMaxTextureSize, 0);

    auto lines = Lines(ReadFile("debug.log"));
    long a = FindLine(lines, "creatwindow");
    long b = FindLine(lines, "creatwindow2", a);
    long c = FindLine(lines, " - set view mode.", b);
    long d = FindLine(lines, "[gl] --- check extensions:", c);
    EXPECT_GE(a, 0);
    EXPECT_GE(b, 0);
    EXPECT_GE(c, 0);
    EXPECT_GE(d, 0);

    CloseShowWindow();
    EXPECT_EQ(showWindow, nullptr);
  });
}

TEST(ShowWindow, EventsSetTheQuitFlagTheLastKeyAndTheViewport) {
  InChild([] {
    OpenWindow();
    struct Case {
      const char *what;
      wm_event_t event;
      int quit;
      int last_key;
    };
    auto key = [](int kind, int code) {
      wm_event_t e{};
      e.type = WM_EVENT_KEY;
      e.key.kind = kind;
      e.key.code = code;
      return e;
    };
    auto window = [](int kind) {
      wm_event_t e{};
      e.type = WM_EVENT_WINDOW;
      e.conf.kind = kind;
      return e;
    };
    wm_event_t mouse{};
    mouse.type = WM_EVENT_MOUSE;
    mouse.mouse.button = WM_BUTTON_LEFT_DOWN;
    const Case cases[] = {
        {"Escape pressed", key(WM_KIND_KEYDOWN, WM_KEY_ESCAPE), 1, WM_KEY_ESCAPE},
        {"Escape released", key(WM_KIND_KEYUP, WM_KEY_ESCAPE), 1, 0},
        {"Page Down pressed", key(WM_KIND_KEYDOWN, WM_KEY_PAGEDOWN), 0, WM_KEY_PAGEDOWN},
        {"Page Down released", key(WM_KIND_KEYUP, WM_KEY_PAGEDOWN), 0, 0},
        {"a key outside the table", key(WM_KIND_KEYDOWN, 0), 0, 0},
        {"close request", window(WM_KIND_CLOSE), 1, 0},
        {"mouse button", mouse, 0, 0},
    };
    for (const Case &c : cases) {
      showQuit = 0;
      showLastKey = 0;
      wm_event_t e = c.event;
      e.window = showWindow;
      EXPECT_EQ(ShowEvent(&e), 0) << c.what;
      EXPECT_EQ(showQuit, c.quit) << c.what;
      EXPECT_EQ(showLastKey, c.last_key) << c.what;
    }

    // A size change gives the viewport the new client size.
    wm_event_t resize = window(WM_KIND_GEOMETRY);
    resize.window = showWindow;
    resize.conf.width = 640;
    resize.conf.height = 480;
    ShowEvent(&resize);
    GLint viewport[4] = {};
    rgl::glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 640, 480}));
    EXPECT_EQ(ShowEvent(nullptr), 0);
  });
}

TEST(ShowWindow, DrainGLErrorsPrintsEachPendingError) {
  InChild([] {
    OpenWindow();
    struct Case {
      const char *what;
      void (*provoke)();
      const char *printed;
    };
    const Case cases[] = {
        {"nothing wrong", [] {}, ""},
        {"an unknown capability", [] { rgl::glEnable(0x7fff); }, "GL_ERROR:invalid enumerant\n"},
        {"a negative viewport", [] { rgl::glViewport(0, 0, -1, -1); }, "GL_ERROR:invalid value\n"},
        {"glEnd without glBegin", [] { rgl::glEnd(); }, "GL_ERROR:invalid operation\n"},
    };
    for (const Case &c : cases) {
      c.provoke();
      testing::internal::CaptureStdout();
      DrainGLErrors();
      DrainGLErrors();  // nothing is left for a second call
      EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.what;
    }
  });
}

TEST(ShowClock, TheFiveClockKeysMoveTheClock) {
  // Each case starts 20 s into the show; the clock right after the key is at
  // least `low` (the time the case itself takes comes on top).
  struct Case {
    int key;
    int low;
  };
  const Case cases[] = {
      {WM_KEY_RIGHT, 21000}, {WM_KEY_LEFT, 19000}, {WM_KEY_PAGEDOWN, 25000},
      {WM_KEY_PAGEUP, 15000}, {WM_KEY_HOME, 0},    {WM_KEY_UP, 20000},  // not a clock key
  };
  for (const Case &c : cases) {
    InChild([&] {
      rttest::StartBase({"./window_test"});
      SYS_TimerReset();
      SYS_TimerSetAdjust(-20000);
      showLastKey = c.key;
      ShowClockKeys();
      int t = SYS_TimerGet();
      EXPECT_GE(t, c.low) << c.key;
      EXPECT_LT(t, c.low + 10000) << c.key;
    });
  }
  // Keys that move the clock back past its start restart it at 0.
  for (int key : {WM_KEY_LEFT, WM_KEY_PAGEUP}) {
    InChild([&] {
      rttest::StartBase({"./window_test"});
      SYS_TimerReset();
      showLastKey = key;
      ShowClockKeys();
      EXPECT_LT(SYS_TimerGet(), 5000) << key;
      EXPECT_EQ(SYS_TimerSetAdjust(0), 0) << "the restart clears the adjustment";
    });
  }
}

}  // namespace
