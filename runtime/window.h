// Runtime glue: the show's window. It opens the 800 by 600 full-screen window
// with its GL context and capability check, closes it at the end of the show,
// and turns the window's events into the show's quit flag and last key.
#pragma once

#include <cstdint>

#include "runtime/showstate.h"
#include "wm/wm.h"

// The window, the quit flag and the last key of the show's state under their
// public names (see ShowState).
inline constexpr wm_window_t *&showWindow = showState.window;
inline constexpr std::int32_t &showQuit = showState.quit;
inline constexpr std::int32_t &showLastKey = showState.lastKey;

extern "C" {

// Opens the show's window: 800 by 600, full screen, the title given, ShowEvent
// as its callback; runs the GL capability check and presents four black
// frames. Writes 800, 600 and 1 through width, height and fullscreen (any of
// them may be null). A window that cannot be created is fatal.
void OpenShowWindow(const char *title, std::int32_t *width, std::int32_t *height, std::int32_t *fullscreen);
// Hides and destroys the show's window.
void CloseShowWindow(void);
// The window's event callback. Returns 0.
int ShowEvent(wm_event_t *event);

}  // extern "C"
