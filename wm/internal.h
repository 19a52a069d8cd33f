// Private to the window manager: state and steps shared between its sources.
#pragma once

#include <cstdint>

#include "base/list.h"
#include "wm/wm.h"

namespace brisk::wm {

// The window list, newest first (records of wm_window_t).
extern SYS_List_p g_windows;

// True once the display connection is up (wmInit).
bool VideoUp();

// The framework key code of a keyboard position; 0 for keys outside the table.
int KeyCode(int scancode);

// One step of the cursor show counter (shown while the count is 0 or more).
void CursorStep(bool show);
int CursorCount();

// Desktop mode recorded by dmInit.
struct DesktopMode {
  int width = 0, height = 0, bpp = 0, refresh = 0;
};
const DesktopMode &Desktop();
// Bits per pixel as the framework counts them (whole bytes, so 32 for 8-bit RGB).
int BitsPerPixel(uint32_t format);

// Fills the window's pixel format descriptor from the desktop depth and hands
// it to SDL as the attributes of the next GL window.
void PreparePixelFormat(wm_window_t *window);
// Relaxations tried when no visual matches the descriptor: 0 is the
// descriptor itself; each later step asks for less. Returns false past the last.
bool ApplyPixelFormatStep(const wm_pixelformat_t &format, int step);
// GL strings and integers for the information lines (null / unchanged when
// the library is not loaded).
const unsigned char *GLString(unsigned name);
void GLInteger(unsigned name, int *value);

// Puts a window that covers the active full-screen mode into it; called
// when a window is shown. No-op when no mode is active.
void ApplyVideoMode(wm_window_t *window);

// True when the window holds the keyboard focus (for tests that send input).
bool HasKeyboardFocus(const wm_window_t *window);

}  // namespace brisk::wm
