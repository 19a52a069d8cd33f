// The system message box: the one place outside the window manager that talks
// to SDL2. Headless and scripted runs (BRISK_BATCH=1, or no display) get the
// caption and text on standard error instead.
#include "base/msgbox.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int SYS_SystemMessageBox(const char *caption, const char *text, int icon) {
  if (!caption) caption = "";
  if (!text) text = "";
  const char *batch = std::getenv("BRISK_BATCH");
  bool headless = batch && std::strcmp(batch, "1") == 0;
  if (!headless) {
    Uint32 flags = icon == SYS_MSGBOX_ERROR     ? SDL_MESSAGEBOX_ERROR
                   : icon == SYS_MSGBOX_WARNING ? SDL_MESSAGEBOX_WARNING
                                                : SDL_MESSAGEBOX_INFORMATION;
    if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) == 0) return 0;
  }
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  return 1;
}
