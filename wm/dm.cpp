// Display modes: the desktop mode recorded at start-up, the list of the
// display's modes, and the temporary switch to a full-screen mode.
//
// A requested mode is applied to the full-screen window, the one that
// covers the whole mode (at 0, 0 with the mode's size): SDL gives that
// window the mode and full screen, now or when it is shown. Restoring leaves
// full screen, which gives the desktop mode back.
#include <SDL.h>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "wm/internal.h"

namespace {

brisk::wm::DesktopMode g_desktop;
bool g_mode_changed = false;  // a switch succeeded once (never cleared)
bool g_mode_active = false;   // the requested mode is in force until restored
SDL_DisplayMode g_mode{};     // the requested mode

bool Covers(const wm_window_t *window, const SDL_DisplayMode &mode) {
  return window->x == 0 && window->y == 0 && window->width == mode.w && window->height == mode.h;
}

// Gives a shown window the requested mode and full screen. False when SDL refuses.
bool EnterMode(wm_window_t *window) {
  auto *native = static_cast<SDL_Window *>(window->hwnd);
  if (!native || !Covers(window, g_mode)) return true;
  return SDL_SetWindowDisplayMode(native, &g_mode) == 0 &&
         SDL_SetWindowFullscreen(native, SDL_WINDOW_FULLSCREEN) == 0;
}

// The display mode of width x height at depth and (when not 0) refresh.
bool FindMode(int width, int height, int depth, int refresh, SDL_DisplayMode *found) {
  int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
    if (mode.w != width || mode.h != height || brisk::wm::BitsPerPixel(mode.format) != depth) continue;
    if (refresh != 0 && mode.refresh_rate != refresh) continue;
    *found = mode;
    return true;
  }
  return false;
}

int Restore() {
  if (!g_mode_changed) return 0;
  g_mode_active = false;
  int result = 0;
  for (SYS_List_p node = brisk::wm::g_windows; node; node = node->next) {
    auto *native = static_cast<SDL_Window *>(static_cast<wm_window_t *>(node->data)->hwnd);
    if (native && (SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN) &&
        SDL_SetWindowFullscreen(native, 0) != 0)
      result = -1;
  }
  return result;
}

}  // namespace

const brisk::wm::DesktopMode &brisk::wm::Desktop() { return g_desktop; }

int brisk::wm::BitsPerPixel(uint32_t format) {
  int bytes = SDL_BYTESPERPIXEL(format);
  return bytes ? bytes * 8 : SDL_BITSPERPIXEL(format);
}

void brisk::wm::ApplyVideoMode(wm_window_t *window) {
  if (g_mode_active) EnterMode(window);
}

extern "C" int dmInit(void) {
  g_desktop = {};
  SDL_DisplayMode mode{};
  if (brisk::wm::VideoUp() && SDL_GetDesktopDisplayMode(0, &mode) == 0)
    g_desktop = {mode.w, mode.h, brisk::wm::BitsPerPixel(mode.format), mode.refresh_rate};
  SYS_MSG(2, "wm][dm", "Screen size: %dx%d %.2fHz %dbits\n", g_desktop.width, g_desktop.height,
          static_cast<double>(g_desktop.refresh), g_desktop.bpp);
  return 0;
}

extern "C" SYS_List_p wmGetVideoModes(void) {
  errClear();
  if (!brisk::wm::VideoUp()) return nullptr;
  SYS_List_p list = nullptr;
  int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
    auto owned = brisk::OwnMem(static_cast<wm_videomode_t *>(SYS_MemGet(sizeof(wm_videomode_t), "wmGetVideoModes")));
    SYS_List_p head = owned ? SYS_ListAddLast(list, owned.get()) : nullptr;
    if (!head) {
      // Out of memory: nothing half-built is handed out.
      for (SYS_List_p node = list; node; node = node->next) SYS_MemFree(node->data);
      if (list) SYS_ListRemove(list);
      return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    }
    list = head;
    wm_videomode_t *record = owned.release();
    record->width = mode.w;
    record->height = mode.h;
    record->bpp = brisk::wm::BitsPerPixel(mode.format);
    record->refresh = static_cast<float>(mode.refresh_rate);
  }
  return list;
}

extern "C" int wmSetVideoMode(int width, int height, int depth, float refresh) {
  errClear();
  if (width == g_desktop.width && height == g_desktop.height && depth == g_desktop.bpp &&
      static_cast<float>(g_desktop.refresh) == refresh)
    return 0;
  SYS_MSG(2, "wm][dm", "switch to %dx%d (%.2fHz) %d bits\n", width, height, static_cast<double>(refresh), depth);
  // A refresh that is not 0.0 fixes the frequency, in whole hertz (truncated toward zero).
  bool ok = brisk::wm::VideoUp() && refresh > -2.0e9f && refresh < 2.0e9f;
  int hertz = ok ? static_cast<int>(refresh) : 0;
  SDL_DisplayMode mode{};
  ok = ok && FindMode(width, height, depth, hertz, &mode);
  if (ok) {
    g_mode = mode;
    for (SYS_List_p node = brisk::wm::g_windows; node && ok; node = node->next)
      ok = EnterMode(static_cast<wm_window_t *>(node->data));
  }
  if (!ok) {
    SYS_MSG(2, "wm][dm", " ! unable to switch to requested mode.\n");
    return brisk::Fail(WM_ERR_MODE, -1);
  }
  g_mode_active = true;
  g_mode_changed = true;
  return 0;
}

extern "C" int wmRestoreVideoMode(void) { return Restore(); }

extern "C" int dmDone(void) {
  Restore();
  return 0;
}
