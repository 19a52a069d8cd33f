// The show: program entry, start-up order, frame loop and shutdown.
//
// ShowMain brings the runtime up in a fixed order, opens the 800 by 600
// full-screen window, loads the show's data, starts the music and runs one
// frame loop on the show clock until Escape, a close request or 67314 ms.
// Its size, clock and debug switch are fields of the show's state
// (runtime/showstate.h).
//
// Test seam: when the environment variable BRISK_SHOW_TRACE names a file, the
// show appends plain-text lines to it (and flushes each):
//   "step <n> <ms>"                  end of start-up step n, ms since main()
//                                    (1 unit start-up, 2 subsystems, 3 pack,
//                                    4 window and GL check, 9 show data,
//                                    12 music, 13 clock start)
//   "first-frame <ms> <ms>"          first frame presented: ms since main()
//                                    and ms since the process started
//   "clock-key <code> <adjust> <t>"  a debug clock key acted: key code, the
//                                    clock adjustment afterwards, the clock
//   "end <quit> <t> <frames>"        loop left: quit flag, last clock value,
//                                    frames presented
// Without the variable nothing is written and nothing is measured.
#pragma once

#include <cstdint>

// Fixed settings of this show: sound on, vertical sync on, full-size textures.
// Constants, so that the branches they decide drop out at compile time.
constexpr std::int32_t showNoSound = 0;
constexpr std::int32_t showVerticalSync = 1;
constexpr std::int32_t showTextureQuality = 0;

extern "C" {

// Length of the show in milliseconds: the loop ends when the clock reaches it.
enum { SHOW_END_TIME = 67314 };

// Prints "GL_ERROR:" and the GLU text of every pending GL error on standard output.
void DrainGLErrors(void);
// Acts on showLastKey when it is one of the five clock keys.
void ShowClockKeys(void);
// The program: start-up, frame loop, normal end. Returns the exit code (0).
int ShowMain(int argc, char **argv);

}  // extern "C"
