// Without any X server: the window manager fails with its codes and lines
// instead of crashing, and everything after that stays safe to call.
#include <cstdlib>
#include <regex>

#include "base/base.h"
#include "support.h"

namespace {

using namespace wmtest;

// No display at all; SDL is kept to its X11 driver so that a console's own
// display (KMS) cannot stand in for the missing X server.
void NoDisplay() {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
}

TEST(WmNoDisplay, InitFailsWithItsCodeAndLines) {
  InChild([] {
    NoDisplay();
    StartBase({"/opt/demo/wmtest", "-v"});
    EXPECT_EQ(wmInit(), -1);
    EXPECT_EQ(errGetLastError(), WM_ERR_CLASS);

    std::vector<std::string> wm = ModuleMessages("wm");
    ASSERT_GE(wm.size(), 4u);
    EXPECT_EQ(wm[0], "  - initialize WGL subsystem...");
    EXPECT_EQ(wm[1], " ...done.");
    EXPECT_EQ(wm[2], "  - initialize DirectX subsystem...");
    EXPECT_EQ(wm[3], " ...done.");
    EXPECT_EQ(ModuleMessages("wm][dpms"),
              (std::vector<std::string>{"ScreenSaver: 0 (0)", "DPMS: 0 (0)", "ScreenSaver & DPMS disabled."}));
    EXPECT_EQ(ModuleMessages("wm][dm"), std::vector<std::string>{"Screen size: 0x0 0.00Hz 0bits"});

    // Everything afterwards answers without a crash.
    EXPECT_EQ(wmOptions(nullptr, WM_OPT_DESKTOPWIDTH, 0), 0);
    wm_window_t *w = wmCreateWindow(0, 0, 320, 200);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wmOptions(w, WM_OPT_HIDECURSOR, 1), 0);
    EXPECT_EQ(wmShowWindow(w), -1);
    EXPECT_EQ(errGetLastError(), WM_ERR_WINDOW);
    EXPECT_EQ(w->hwnd, nullptr);
    wmProcessEvents();
    EXPECT_EQ(wmSwapBuffers(w), 0);
    EXPECT_EQ(wmMakeCurrent(w), 0);
    EXPECT_EQ(wmSetVideoMode(800, 600, 32, 0.0f), -1);
    EXPECT_EQ(errGetLastError(), WM_ERR_MODE);
    EXPECT_EQ(wmGetVideoModes(), nullptr);
    EXPECT_EQ(wmRestoreVideoMode(), 0);
    EXPECT_EQ(wmDestroyWindow(w), 0);
    EXPECT_EQ(wmDone(), 0);
    SYS_BaseDone();
  });
}

TEST(WmNoDisplay, ShowWithoutInitFails) {
  InChild([] {
    NoDisplay();
    StartBase({"/opt/demo/wmtest", "-v"});
    wm_window_t *w = wmCreateWindow(0, 0, 320, 200);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wmShowWindow(w), -1);
    EXPECT_EQ(errGetLastError(), WM_ERR_WINDOW);
    bool logged = false;
    for (const auto &m : ModuleMessages("wm")) logged = logged || m.rfind(" ! native window not created: ", 0) == 0;
    EXPECT_TRUE(logged);
    EXPECT_EQ(wmDestroyWindow(w), 0);
    SYS_BaseDone();
  });
}

}  // namespace
