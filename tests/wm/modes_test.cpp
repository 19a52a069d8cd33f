// Display modes, the screensaver guard, the adapter queries and the
// stand-in for wglGetProcAddress.
#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <regex>

#include "base/base.h"
#include "base/dl.h"
#include "image/gl_stub.h"
#include "support.h"

namespace {

using namespace wmtest;

int Lines(const std::string &tag, const std::string &message) {
  int n = 0;
  for (const auto &m : ModuleMessages(tag)) n += m == message;
  return n;
}

void FreeModes(SYS_List_p modes) {
  for (SYS_List_p node = modes; node; node = node->next) SYS_MemFree(node->data);
  if (modes) SYS_ListRemove(modes);
}

TEST(WmModes, ListHoldsTheDesktopMode) {
  SYS_List_p modes = wmGetVideoModes();
  ASSERT_NE(modes, nullptr);
  bool desktop = false;
  for (SYS_List_p node = modes; node; node = node->next) {
    auto *mode = static_cast<wm_videomode_t *>(node->data);
    EXPECT_GT(mode->width, 0);
    EXPECT_GT(mode->height, 0);
    desktop = desktop || (mode->width == 800 && mode->height == 600 && mode->bpp == 32);
  }
  EXPECT_TRUE(desktop);
  FreeModes(modes);
}

TEST(WmModes, SwitchRequests) {
  int refresh = static_cast<int>(wmOptions(nullptr, WM_OPT_DESKTOPREFRESH, 0));
  // Nothing to restore yet.
  EXPECT_EQ(wmRestoreVideoMode(), 0);

  // The desktop's own mode: no switch and no line.
  int switches = 0;
  for (const auto &m : ModuleMessages("wm][dm")) switches += m.rfind("switch to", 0) == 0;
  EXPECT_EQ(wmSetVideoMode(800, 600, 32, static_cast<float>(refresh)), 0);
  int after = 0;
  for (const auto &m : ModuleMessages("wm][dm")) after += m.rfind("switch to", 0) == 0;
  EXPECT_EQ(after, switches);

  // Modes the display cannot take.
  struct Case {
    int width, height, depth;
    float refresh;
    const char *line;
  };
  for (const Case &c : {Case{1234, 567, 32, 0.0f, "switch to 1234x567 (0.00Hz) 32 bits"},
                        Case{800, 600, 16, 0.0f, "switch to 800x600 (0.00Hz) 16 bits"},
                        Case{800, 600, 32, 999.5f, "switch to 800x600 (999.50Hz) 32 bits"}}) {
    SCOPED_TRACE(c.line);
    int unable = Lines("wm][dm", " ! unable to switch to requested mode.");
    EXPECT_EQ(wmSetVideoMode(c.width, c.height, c.depth, c.refresh), -1);
    EXPECT_EQ(errGetLastError(), WM_ERR_MODE);
    EXPECT_GE(Lines("wm][dm", c.line), 1);
    EXPECT_EQ(Lines("wm][dm", " ! unable to switch to requested mode."), unable + 1);
  }

  // The demo's request (any refresh) switches whenever the desktop reports a rate;
  // the full-screen window covers the mode, and restoring gives the desktop back.
  if (refresh != 0) {
    EXPECT_EQ(wmSetVideoMode(800, 600, 32, 0.0f), 0);
    EXPECT_GE(Lines("wm][dm", "switch to 800x600 (0.00Hz) 32 bits"), 1);
    {
      ShownWindow shown(0, 0, 800, 600);
      EXPECT_TRUE(PumpUntil([] { return true; }));
    }
    EXPECT_EQ(wmRestoreVideoMode(), 0);
    EXPECT_EQ(wmRestoreVideoMode(), 0);
  }
}

TEST(WmDpms, GuardLines) {
  EXPECT_EQ(dpmsEnable(1), 0);
  EXPECT_EQ(Lines("wm][dpms", "ScreenSaver & DPMS enabled."), 1);
  EXPECT_EQ(dpmsEnable(0), 0);
  EXPECT_EQ(Lines("wm][dpms", "ScreenSaver & DPMS disabled."), 2);
}

// The first DRM adapter's driver, as the kernel shows it, or "".
std::string FirstDrmDriver() {
  DIR *dir = opendir("/sys/class/drm");
  if (!dir) return {};
  std::vector<std::pair<long, std::string>> cards;
  while (dirent *e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.compare(0, 4, "card") == 0 &&
        name.find_first_not_of("0123456789", 4) == std::string::npos)
      cards.emplace_back(std::stol(name.substr(4)), name);
  }
  closedir(dir);
  std::sort(cards.begin(), cards.end());
  for (const auto &card : cards) {
    char target[4096];
    std::string link = "/sys/class/drm/" + card.second + "/device/driver";
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    std::string text(target, static_cast<size_t>(n));
    return text.substr(text.rfind('/') + 1);
  }
  return {};
}

TEST(WmAdapter, NameAndMemoryFromTheKernel) {
  std::string driver = FirstDrmDriver();
  const auto *name = reinterpret_cast<const char *>(wmOptions(nullptr, WM_OPT_DRIVER, 0));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), driver.empty() ? "Unknown" : driver);
  EXPECT_GE(wmOptions(nullptr, WM_OPT_VIDEOMEMORY, 0), 0);

  std::vector<std::string> dd = ModuleMessages("wm][ddraw");
  ASSERT_GE(dd.size(), 5u);
  EXPECT_EQ(dd[0], "lib: /sys/class/drm ...");
  EXPECT_EQ(dd[1], access("/sys/class/drm", F_OK) == 0 ? "...loaded." : "...failed.");
  EXPECT_EQ(dd[2], "lib: /sys/class ...");
  EXPECT_EQ(dd[3], "...loaded.");
  EXPECT_TRUE(std::regex_match(dd[4], std::regex("ddLib: [0-9]+"))) << dd[4];

  // Closed, the queries fall back to "Unknown" and no memory; reopened, they answer again.
  EXPECT_EQ(ddDone(), 0);
  dd = ModuleMessages("wm][ddraw");
  ASSERT_GE(dd.size(), 2u);
  EXPECT_TRUE(std::regex_match(dd[dd.size() - 2], std::regex("d3dLib: -?[0-9]+"))) << dd[dd.size() - 2];
  EXPECT_TRUE(std::regex_match(dd.back(), std::regex("ddLib: [0-9]+"))) << dd.back();
  char *unknown = ddGetDriverName();
  ASSERT_NE(unknown, nullptr);
  EXPECT_STREQ(unknown, "Unknown");
  SYS_MemFree(unknown);
  EXPECT_EQ(ddCheckVideoMemory(), 0);
  EXPECT_EQ(ddInit(), 0);
  char *again = ddGetDriverName();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(std::string(again), driver.empty() ? "Unknown" : driver);
  SYS_MemFree(again);
}

TEST(WmProc, GetProcAddressStandsInForWgl) {
  ShownWindow shown(0, 0, 64, 64);
  EXPECT_EQ(wmGetProcAddress(nullptr), nullptr);
  EXPECT_NE(wmGetProcAddress("glClear"), nullptr);
  EXPECT_NE(wmGetProcAddress("glCompressedTexImage2DARB"), nullptr);
  EXPECT_EQ(wmGetProcAddress("wglCreateContext"), SYS_DlGetProc(gl_library, "glXCreateContext"));
  EXPECT_EQ(wmGetProcAddress("wglGetProcAddress"), SYS_DlGetProc(gl_library, "glXGetProcAddressARB"));
  EXPECT_EQ(wmGetProcAddress("wglShareLists"), nullptr);
  // Swap control: an entry that sets the interval, when the context has it.
  if (void *entry = wmGetProcAddress("wglSwapIntervalEXT")) {
    auto set_interval = reinterpret_cast<int (*)(int)>(entry);
    EXPECT_EQ(set_interval(0), 1);
    auto get_interval = reinterpret_cast<int (*)(void)>(wmGetProcAddress("wglGetSwapIntervalEXT"));
    ASSERT_NE(get_interval, nullptr);
    EXPECT_EQ(get_interval(), 0);
  }
}

}  // namespace
