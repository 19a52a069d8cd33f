// Windows and their events on SDL2: start-up, the window list, the options,
// the translation of SDL events into the framework's event records, and the
// cursor show counter.
//
// One SDL window per shown record (kept in hwnd). wmProcessEvents drains
// SDL's queue and hands each event to the record whose native window it
// names; events of windows that are not in the list are dropped.
#include <GL/gl.h>  // Required for: the GL_* names of the information lines

#include <cstdint>

#include <SDL.h>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/gl_stub.h"
#include "wm/internal.h"

namespace brisk::wm {
SYS_List_p g_windows = nullptr;
}

namespace {

using brisk::wm::g_windows;

constexpr const char *kClassName = "brisk!quantoven";

bool g_video = false;           // the display connection is up
int g_cursor = 0;               // cursor show counter: shown while >= 0
char *g_driver_name = nullptr;  // adapter name kept by wmInit (option 0)
int g_video_memory = 0;         // megabytes (option 1)
wm_window_t *g_destroying = nullptr;  // record whose destroy event is being delivered

// The record whose native window is `native`, searched from the head.
wm_window_t *FindRecord(SDL_Window *native) {
  if (!native) return nullptr;
  for (SYS_List_p node = g_windows; node; node = node->next) {
    auto *window = static_cast<wm_window_t *>(node->data);
    if (window->hwnd == native) return window;
  }
  return nullptr;
}

SDL_Window *Native(const wm_window_t *window) { return static_cast<SDL_Window *>(window->hwnd); }

// Writes the style's caption and sizing-frame bits to the native window.
void ApplyStyle(wm_window_t *window) {
  SDL_Window *native = Native(window);
  if (!native) return;
  SDL_SetWindowBordered(native, (window->style & WM_STYLE_CAPTION) == WM_STYLE_CAPTION ? SDL_TRUE : SDL_FALSE);
  SDL_SetWindowResizable(native, (window->style & WM_STYLE_SIZEBOX) ? SDL_TRUE : SDL_FALSE);
}

void SetResizable(wm_window_t *window, intptr_t value) {
  window->resizable = static_cast<int32_t>(value);
  if (value)
    window->style |= WM_STYLE_SIZEBOX;
  else
    window->style &= ~WM_STYLE_SIZEBOX;
  ApplyStyle(window);
}

void SetCursorHidden(wm_window_t *window, intptr_t value) {
  window->cursorHidden = static_cast<int32_t>(value);
  brisk::wm::CursorStep(value == 0);
  brisk::wm::CursorStep(value == 0);
}

// Creates the native window for the record: a GL-capable one when some step
// of the pixel format finds a visual, a plain one otherwise (the context
// step then reports the missing format).
bool CreateNative(wm_window_t *window) {
  brisk::wm::PreparePixelFormat(window);
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if ((window->style & WM_STYLE_CAPTION) != WM_STYLE_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
  if (window->style & WM_STYLE_SIZEBOX) flags |= SDL_WINDOW_RESIZABLE;
  const char *title = window->title ? window->title : "";
  SDL_Window *native = nullptr;
  window->pixelFormatIndex = 0;
  for (int step = 0; !native && brisk::wm::ApplyPixelFormatStep(window->pixelFormat, step); ++step) {
    native = SDL_CreateWindow(title, window->x, window->y, window->width, window->height, flags | SDL_WINDOW_OPENGL);
    if (native) window->pixelFormatIndex = step + 1;
  }
  if (!native) native = SDL_CreateWindow(title, window->x, window->y, window->width, window->height, flags);
  if (!native) {
    SYS_MSG(2, "wm", " ! native window not created: %s\n", SDL_GetError());
    return false;
  }
  window->hwnd = native;
  return true;
}

// Drops the native window and context of a record that is shown again.
void ReleaseNative(wm_window_t *window) {
  wglContextDestroy(window);
  SDL_DestroyWindow(Native(window));
  window->hwnd = nullptr;
  window->hdc = nullptr;
  window->hglrc = nullptr;
}

void LogGLInfo() {
  auto text = [](unsigned name) {
    const unsigned char *s = brisk::wm::GLString(name);
    return s ? reinterpret_cast<const char *>(s) : "(null)";
  };
  SYS_MSG(2, "wm", " - GL_VENDOR: %s\n", text(GL_VENDOR));
  SYS_MSG(2, "wm", " - GL_RENDERER: %s\n", text(GL_RENDERER));
  SYS_MSG(2, "wm", " - GL_VERSION: %s\n", text(GL_VERSION));
  SYS_MSG(2, "wm", " - GL_SHADING_LANGUAGE_VERSION: %s\n", text(GL_SHADING_LANGUAGE_VERSION));
  SYS_MSG(2, "wm", " - GL_EXTENSIONS: %s\n", text(GL_EXTENSIONS));
  struct Limit {
    const char *name;
    unsigned value;
  };
  static constexpr Limit kLimits[] = {
      {"GL_MAX_TEXTURE_UNITS", GL_MAX_TEXTURE_UNITS},
      {"GL_MAX_VERTEX_ATTRIBS_ARB", GL_MAX_VERTEX_ATTRIBS_ARB},
      {"GL_MAX_VERTEX_UNIFORM_COMPONENTS_ARB", GL_MAX_VERTEX_UNIFORM_COMPONENTS_ARB},
      {"GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS_ARB", GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS_ARB},
      {"GL_MAX_VARYING_FLOATS_ARB", GL_MAX_VARYING_FLOATS_ARB},
      {"GL_MAX_TEXTURE_IMAGE_UNITS_ARB", GL_MAX_TEXTURE_IMAGE_UNITS_ARB},
      {"GL_MAX_TEXTURE_COORDS_ARB", GL_MAX_TEXTURE_COORDS_ARB},
      {"GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS_ARB", GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS_ARB},
      {"GL_MAX_FRAGMENT_UNIFORM_COMPONENTS_ARB", GL_MAX_FRAGMENT_UNIFORM_COMPONENTS_ARB},
  };
  // One integer for all nine: a limit the driver does not report keeps the previous value.
  int value = 0;
  for (const Limit &limit : kLimits) {
    brisk::wm::GLInteger(limit.value, &value);
    SYS_MSG(2, "wm", " - %s: %d\n", limit.name, value);
  }
}

// --- event translation -----------------------------------------------------

// Button states, the packed position and the deltas of every mouse event.
void FinishMouse(wm_window_t *window, wm_event_t &event, int x, int y) {
  event.type = WM_EVENT_MOUSE;
  event.mouse.left = window->leftButton;
  event.mouse.right = window->rightButton;
  event.mouse.middle = window->middleButton;
  event.mouse.x = static_cast<uint16_t>(x);  // low half of the packed position, unsigned
  event.mouse.y = static_cast<int16_t>(static_cast<uint16_t>(y));  // high half, signed
  event.mouse.dx = event.mouse.x - window->lastMouseX;
  event.mouse.dy = event.mouse.y - window->lastMouseY;
  window->lastMouseX = event.mouse.x;
  window->lastMouseY = event.mouse.y;
}

// Fills `event` for an SDL event of `window`; false when it makes no event.
bool Translate(const SDL_Event &sdl, wm_window_t *window, wm_event_t &event) {
  switch (sdl.type) {
    case SDL_WINDOWEVENT: {
      event.type = WM_EVENT_WINDOW;
      int w = 0, h = 0;
      switch (sdl.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          event.conf.kind = WM_KIND_CLOSE;
          return true;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          w = sdl.window.data1;
          h = sdl.window.data2;
          break;
        case SDL_WINDOWEVENT_MINIMIZED:
          break;  // a minimised window has an empty client area
        case SDL_WINDOWEVENT_RESTORED:
          SDL_GetWindowSize(Native(window), &w, &h);
          break;
        case SDL_WINDOWEVENT_MOVED:
          SDL_GetWindowSize(Native(window), &w, &h);
          event.conf.x = window->x = sdl.window.data1;
          event.conf.y = window->y = sdl.window.data2;
          break;
        default:
          return false;
      }
      event.conf.kind = WM_KIND_GEOMETRY;
      event.conf.width = window->width = w;
      event.conf.height = window->height = h;
      return true;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      event.type = WM_EVENT_KEY;
      event.key.kind = sdl.type == SDL_KEYDOWN ? WM_KIND_KEYDOWN : WM_KIND_KEYUP;
      event.key.code = brisk::wm::KeyCode(sdl.key.keysym.scancode);
      return true;
    case SDL_MOUSEMOTION:
      FinishMouse(window, event, sdl.motion.x, sdl.motion.y);
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      bool down = sdl.type == SDL_MOUSEBUTTONDOWN;
      switch (sdl.button.button) {
        case SDL_BUTTON_LEFT:
          window->leftButton = down;
          event.mouse.button = down ? WM_BUTTON_LEFT_DOWN : WM_BUTTON_LEFT_UP;
          break;
        case SDL_BUTTON_RIGHT:
          window->rightButton = down;
          event.mouse.button = down ? WM_BUTTON_RIGHT_DOWN : WM_BUTTON_RIGHT_UP;
          break;
        case SDL_BUTTON_MIDDLE:
          window->middleButton = down;
          event.mouse.button = down ? WM_BUTTON_MIDDLE_DOWN : WM_BUTTON_MIDDLE_UP;
          break;
        default:
          return false;  // extra buttons make no event
      }
      FinishMouse(window, event, sdl.button.x, sdl.button.y);
      return true;
    }
    case SDL_MOUSEWHEEL: {
      int turn = sdl.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -sdl.wheel.y : sdl.wheel.y;
      if (turn == 0) return false;  // a purely sideways turn
      if (turn > 0)
        event.mouse.wheelUp = 1;
      else
        event.mouse.wheelDown = 1;
      FinishMouse(window, event, sdl.wheel.mouseX, sdl.wheel.mouseY);
      return true;
    }
    default:
      return false;
  }
}

Uint32 WindowId(const SDL_Event &sdl) {
  switch (sdl.type) {
    case SDL_WINDOWEVENT: return sdl.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return sdl.key.windowID;
    case SDL_MOUSEMOTION: return sdl.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return sdl.button.windowID;
    case SDL_MOUSEWHEEL: return sdl.wheel.windowID;
    default: return 0;
  }
}

}  // namespace

// --- shared with the other sources -----------------------------------------

bool brisk::wm::VideoUp() { return g_video; }

void brisk::wm::CursorStep(bool show) {
  g_cursor += show ? 1 : -1;
  if (g_video) SDL_ShowCursor(g_cursor >= 0 ? SDL_ENABLE : SDL_DISABLE);
}

int brisk::wm::CursorCount() { return g_cursor; }

bool brisk::wm::HasKeyboardFocus(const wm_window_t *window) {
  return window && window->hwnd && SDL_GetKeyboardFocus() == Native(window);
}

// --- public API ---------------------------------------------------------------

extern "C" int wmInit(void) {
  errClear();
  // The display connection; its window class is the X11 class of every window.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");         // Ctrl+C keeps ending the process
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");    // the guard below decides
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");   // the click that focuses a window is a click too
  SDL_setenv("SDL_VIDEO_X11_WMCLASS", kClassName, 1);
  if (!g_video) g_video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;

  SYS_MSG(2, "wm", "  - initialize WGL subsystem...\n");
  if (wglInit() != 0) {
    SYS_MSG(2, "wm", " ! FATAL ERROR in WGL initialization.\n");
    return brisk::Fail(WM_ERR_GL, -1);
  }
  SYS_MSG(2, "wm", " ...done.\n");
  if (gl_stub() != 0) {
    SYS_MSG(2, "wm", " ! FATAL ERROR in OpenGL initialization.\n");
    return brisk::Fail(WM_ERR_GL, -1);
  }

  // The log's fixed text, kept as it is.
  SYS_MSG(2, "wm", "  - initialize DirectX subsystem...\n");
  if (ddInit() == 0) {
    SYS_MemFree(g_driver_name);
    g_driver_name = ddGetDriverName();
    g_video_memory = ddCheckVideoMemory();
  }
  SYS_MSG(2, "wm", " ...done.\n");

  dpmsInit();
  dpmsEnable(0);
  dmInit();

  if (!g_video) {
    SYS_MSG(2, "wm", " ! no display: %s\n", SDL_GetError());
    return brisk::Fail(WM_ERR_CLASS, -1);
  }
  errClear();
  return 0;
}

extern "C" int wmDone(void) {
  ddDone();
  wglDone();
  dpmsDone();
  dmDone();
  SYS_MemFree(g_driver_name);
  g_video_memory = 0;
  return 0;
}

extern "C" wm_window_t *wmCreateWindow(int x, int y, int width, int height) {
  errClear();
  auto window = brisk::OwnMem(static_cast<wm_window_t *>(SYS_MemGet(sizeof(wm_window_t), "New Window")));
  if (!window) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  window->x = x;
  window->y = y;
  window->width = width;
  window->height = height;
  window->style = WM_STYLE_DEFAULT;
  SYS_List_p head = SYS_ListAddFirst(g_windows, window.get());
  if (!head) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  g_windows = head;
  return window.release();
}

extern "C" int wmShowWindow(wm_window_t *window) {
  errClear();
  if (!window) return brisk::Fail(SYS_ERR_ARG, -1);
  SetResizable(window, window->resizable);
  // Showing a shown window again replaces its native window instead of
  // leaving the old one on screen without a record.
  if (window->hwnd) ReleaseNative(window);
  if (!CreateNative(window)) return brisk::Fail(WM_ERR_WINDOW, -1);
  brisk::wm::ApplyVideoMode(window);
  SetCursorHidden(window, window->cursorHidden);
  SDL_Window *native = Native(window);
  SDL_ShowWindow(native);
  SDL_RaiseWindow(native);
  SDL_SetWindowInputFocus(native);
  if (wglContextCreate(window) != 0) return brisk::Fail(WM_ERR_GL, -1);
  LogGLInfo();
  return 0;
}

extern "C" int wmHideWindow(wm_window_t *window) {
  errClear();
  if (!window) return brisk::Fail(SYS_ERR_ARG, -1);
  if (window->hwnd) SDL_HideWindow(Native(window));
  return 0;
}

extern "C" int wmDestroyWindow(wm_window_t *window) {
  errClear();
  if (!window) return brisk::Fail(SYS_ERR_ARG, -1);
  // A callback that destroys its window on the destroy event itself: the
  // destruction already under way finishes the job.
  if (window == g_destroying) return 0;
  if (window->hwnd) SDL_HideWindow(Native(window));
  brisk::wm::CursorStep(true);
  wglContextDestroy(window);
  if (SDL_Window *native = Native(window)) {
    // The destroy message: one more close event while the record is still listed.
    if (window->callback) {
      wm_event_t event{};
      event.type = WM_EVENT_WINDOW;
      event.window = window;
      event.conf.kind = WM_KIND_CLOSE;
      wm_window_t *outer = g_destroying;
      g_destroying = window;
      window->callback(&event);
      g_destroying = outer;
    }
    SDL_DestroyWindow(native);
    window->hwnd = nullptr;
  }
  g_windows = SYS_ListDelItem(g_windows, window);
  SYS_MemFree(window->title);
  SYS_MemFree(window);
  errClear();
  return 0;
}

extern "C" intptr_t wmOptions(wm_window_t *window, int option, intptr_t value) {
  errClear();
  switch (option) {
    case WM_OPT_DRIVER: return reinterpret_cast<intptr_t>(g_driver_name);
    case WM_OPT_VIDEOMEMORY: return g_video_memory;
    case WM_OPT_DESKTOPWIDTH: return brisk::wm::Desktop().width;
    case WM_OPT_DESKTOPHEIGHT: return brisk::wm::Desktop().height;
    case WM_OPT_DESKTOPBPP: return brisk::wm::Desktop().bpp;
    case WM_OPT_DESKTOPREFRESH: return brisk::wm::Desktop().refresh;
    default: break;
  }
  if (!window) return brisk::Fail(WM_ERR_NEEDWINDOW, -1);
  SDL_Window *native = Native(window);
  switch (option) {
    case WM_OPT_CALLBACK:
      window->callback = reinterpret_cast<wm_callback_t>(value);
      return 0;
    case WM_OPT_SETGEOMETRY: {
      const auto *conf = reinterpret_cast<const wm_conf_t *>(value);
      if (!conf) return brisk::Fail(SYS_ERR_ARG, -1);
      window->x = conf->x;
      window->y = conf->y;
      window->width = conf->width;
      window->height = conf->height;
      if (native) {
        SDL_SetWindowPosition(native, window->x, window->y);
        SDL_SetWindowSize(native, window->width, window->height);
        SDL_ShowWindow(native);
      }
      return 0;
    }
    case WM_OPT_WIDTH: return window->width;
    case WM_OPT_HEIGHT: return window->height;
    case WM_OPT_X: return window->x;
    case WM_OPT_Y: return window->y;
    case WM_OPT_GETGEOMETRY:
      if (auto *conf = reinterpret_cast<wm_conf_t *>(value)) {
        conf->x = window->x;
        conf->y = window->y;
        conf->width = window->width;
        conf->height = window->height;
      }
      return 0;
    case WM_OPT_HIDECURSOR:
      SetCursorHidden(window, value);
      return 0;
    case WM_OPT_FULLSCREEN:
      window->fullscreen = static_cast<int32_t>(value);
      // The log's fixed text, kept as it is.
      if (native) SYS_MSG(2, "wm", " ! TODO: switch fullscreen (%s:%d)\n", __FILE_NAME__, __LINE__);
      return 0;
    case WM_OPT_TITLE: {
      // Copied before the old title is released: the new one may be the old one.
      const char *title = reinterpret_cast<const char *>(value);
      char *copy = title ? SYS_StrDup(title) : nullptr;
      SYS_MemFree(window->title);
      window->title = copy;
      if (native) SDL_SetWindowTitle(native, window->title ? window->title : "");
      return 0;
    }
    case WM_OPT_BORDERLESS:
      window->borderless = static_cast<int32_t>(value);
      if (value)
        window->style &= ~WM_STYLE_DEFAULT;
      else
        window->style |= WM_STYLE_DEFAULT;
      if (native) {
        SDL_HideWindow(native);
        ApplyStyle(window);
        SDL_ShowWindow(native);
      }
      return 0;
    case WM_OPT_SETUSERDATA:
      window->userData = value;
      return 0;
    case WM_OPT_GETUSERDATA: return window->userData;
    case WM_OPT_RESIZABLE:
      SetResizable(window, value);
      return 0;
    default:
      return 0;  // unknown options need a window and do nothing
  }
}

extern "C" void wmProcessEvents(void) {
  if (!g_video) return;
  SDL_Event sdl;
  while (SDL_PollEvent(&sdl)) {
    Uint32 id = WindowId(sdl);
    if (!id) continue;
    wm_window_t *window = FindRecord(SDL_GetWindowFromID(id));
    if (!window) continue;
    wm_event_t event{};
    event.window = window;
    if (!Translate(sdl, window, event)) continue;
    // The callback may destroy the window; the record is not touched afterwards.
    if (window->callback) window->callback(&event);
  }
}

extern "C" int wmSwapBuffers(wm_window_t *window) {
  if (!window || !window->hwnd) return 0;
  SDL_GL_SwapWindow(Native(window));
  return 1;
}

extern "C" int wmMakeCurrent(wm_window_t *window) {
  if (!window || !window->hwnd) return 0;
  return SDL_GL_MakeCurrent(Native(window), static_cast<SDL_GLContext>(window->hglrc)) == 0 ? 1 : 0;
}
