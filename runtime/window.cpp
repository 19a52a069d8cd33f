// Runtime glue: opening and closing the show's window, and its event callback.
#include "runtime/window.h"

#include "runtime/gl.h"
#include "runtime/registry.h"

extern "C" {

void OpenShowWindow(const char *title, std::int32_t *width, std::int32_t *height, std::int32_t *fullscreen) {
  // The log's fixed text, spelling included.
  SYS_WriteLn("creatwindow");
  SYS_WriteLn("creatwindow2");
  // The show has one fixed mode, whatever the caller asked for.
  if (width) *width = SHOW_WIDTH;
  if (height) *height = SHOW_HEIGHT;
  if (fullscreen) *fullscreen = 1;

  showState.window = wmCreateWindow(0, 0, SHOW_WIDTH, SHOW_HEIGHT);
  if (!showState.window) SYS_FatalError("Unable to create window.");
  // The title is kept as a short string, as every name of the runtime.
  ShortString caption(title ? title : "");
  wmOptions(showState.window, WM_OPT_TITLE, reinterpret_cast<intptr_t>(SYS_PChar(caption)));
  wmOptions(showState.window, WM_OPT_CALLBACK, reinterpret_cast<intptr_t>(&ShowEvent));

  SYS_WriteLn(" - set view mode.");
  wmOptions(showState.window, WM_OPT_HIDECURSOR, 1);
  wmSetVideoMode(SHOW_WIDTH, SHOW_HEIGHT, 32, 0.0f);

  wmShowWindow(showState.window);
  InitGLExtensions();

  // Black before anything is loaded.
  for (int i = 0; i < 4; ++i) {
    rgl::glClearColor(0, 0, 0, 0);
    rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    wmSwapBuffers(showState.window);
  }

  wmOptions(showState.window, WM_OPT_BORDERLESS, 1);
  wmOptions(showState.window, WM_OPT_FULLSCREEN, 1);
}

void CloseShowWindow(void) {
  if (!showState.window) return;
  wmHideWindow(showState.window);
  wmDestroyWindow(showState.window);
  showState.window = nullptr;
}

int ShowEvent(wm_event_t *event) {
  if (!event) return 0;
  switch (event->type) {
    case WM_EVENT_KEY:
      // Only presses (auto-repeat included) are recorded as the last key:
      // a clock key acts once per press, however the press and the release
      // fall into the frames.
      if (event->key.kind == WM_KIND_KEYDOWN) showState.lastKey = event->key.code;
      if (event->key.code == WM_KEY_ESCAPE) showState.quit = 1;
      break;
    case WM_EVENT_WINDOW:
      if (event->conf.kind == WM_KIND_CLOSE) {
        showState.quit = 1;
      } else if (event->conf.kind == WM_KIND_GEOMETRY) {
        wmMakeCurrent(event->window);
        rgl::glViewport(0, 0, event->conf.width, event->conf.height);
      }
      break;
    default:
      break;
  }
  return 0;
}

}  // extern "C"
