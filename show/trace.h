// The show's trace (BRISK_SHOW_TRACE; the lines are described in show.h):
// the end of each start-up step and the first frame in milliseconds, the
// clock keys that acted and the end of the frame loop. Without the variable
// nothing is written.
#pragma once

namespace brisk::show {

// Start-up steps that end with a trace point, under the numbers of their
// "step" lines.
enum class StartStep {
  kUnits = 1,       // unit start-up of the runtime
  kSubsystems = 2,  // registered subsystems
  kPack = 3,        // the show's pack
  kWindow = 4,      // window and GL capability check
  kData = 9,        // the show's data
  kMusic = 12,      // the sound track
  kClock = 13,      // the show clock
};

// Marks the start of main() and opens the trace file, if one is named.
void TraceOpen();
void TraceStep(StartStep step);
// Writes the step times and the first-frame line.
void TraceFirstFrame();
void TraceClockKey(int code, int adjust, int t);
// Writes the end line and closes the trace file.
void TraceEnd(int quit, int t, long frames);

}  // namespace brisk::show
