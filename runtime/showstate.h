// Runtime glue: the show's state. One record holds what the show, its window
// glue and its sound-track glue share: the window and what its events said,
// the track, the show's size, its clock and the debug switch. The runtime
// defines it once; the window glue writes the window, the quit flag and the
// last key, the music glue the track, the show the rest. Main thread only.
#pragma once

#include <cstdint>

#include "sound/fss.h"
#include "wm/wm.h"

// The show's one mode: its window, its video mode and its frame viewport.
enum { SHOW_WIDTH = 800, SHOW_HEIGHT = 600 };

struct ShowState {
  wm_window_t *window;   // null until OpenShowWindow has created it
  std::int32_t quit;     // 1 once Escape was seen or the window was asked to close
  std::int32_t lastKey;  // framework key code of the last key pressed (cleared before every message pump)
  FSS_Music_p music;     // the track; null until StartMusic succeeds and again after StopMusic
  std::int32_t width;    // window size W, H (SHOW_WIDTH by SHOW_HEIGHT once the window is open)
  std::int32_t height;
  std::int32_t time;     // show time t in milliseconds, read once per frame
  std::int32_t debug;    // 1 when the command line carries -debug (overlay and clock keys)
};

extern "C" {

extern ShowState showState;

}  // extern "C"
