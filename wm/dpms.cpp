// The screensaver guard: the screensaver and the display's power-off are
// switched off for the run and given back afterwards. Both settings follow
// SDL's one screensaver state.
#include <SDL.h>

#include "base/log.h"
#include "wm/internal.h"

namespace {

struct Setting {
  int queried = 0;  // 1 when the setting could be read
  int value = 0;
};
Setting g_saver;
Setting g_power;

void Apply(int on) {
  if (on)
    SDL_EnableScreenSaver();
  else
    SDL_DisableScreenSaver();
}

}  // namespace

extern "C" int dpmsInit(void) {
  // The settings can be read once the display connection is up.
  int queried = brisk::wm::VideoUp() ? 1 : 0;
  int value = queried ? (SDL_IsScreenSaverEnabled() ? 1 : 0) : 0;
  g_saver = {queried, value};
  g_power = {queried, value};
  SYS_MSG(2, "wm][dpms", "ScreenSaver: %d (%d)\n", g_saver.queried, g_saver.value);
  SYS_MSG(2, "wm][dpms", "DPMS: %d (%d)\n", g_power.queried, g_power.value);
  return 0;
}

extern "C" int dpmsEnable(int on) {
  SYS_MSG(2, "wm][dpms", "ScreenSaver & DPMS %s.\n", on ? "enabled" : "disabled");
  if (g_saver.queried || g_power.queried) Apply(on);
  return 0;
}

extern "C" int dpmsDone(void) {
  if (g_saver.queried) Apply(g_saver.value);
  else if (g_power.queried) Apply(g_power.value);
  return 0;
}
