// The show's timeline: thirteen patterns of 5178 ms, 64 steps of 80.9 ms
// each, a beat flash on steps 8, 24, 40 and 56, and a fixed schedule of
// interface draws, back-buffer copies and two columns of bars per pattern.
//
// The schedule draws through ShowDrawOps, so that a test can put a recorder
// in place of GL and check the sequence of draws directly.
#pragma once

#include <cstdint>

#include "runtime/ife.h"
#include "show/loading.h"

// Length of one pattern in milliseconds.
enum { SHOW_PATTERN_MS = 5178 };

// Timeline state, recomputed every frame from the clock; the flash start
// carries over from frame to frame.
struct ShowTimeline {
  std::int32_t showPattern;  // t div 5178
  std::int32_t showStep;     // step within the pattern, 0 to 63
  float showFlash;           // beat flash level, 0 to 1 (above 1 after the clock moved back)
  float showFlashStart;      // time of the last frame that lay in a flash step
};

// What the schedule draws with.
class ShowDrawOps {
 public:
  virtual ~ShowDrawOps() = default;
  // One interface as it stands at time t.
  virtual void Draw(const ife_interface &ife, float t) = 0;
  // The back buffer into the framebuffer texture, then a cleared frame.
  virtual void Copy(std::int32_t framebufferTexture) = 0;
  // The two columns of bars at clock t.
  virtual void Bars(std::int32_t barTexture, std::int32_t t) = 0;
};

// One 16 by 16 square of the bars: its lower left corner.
struct BarSquare {
  float x, y;
};
enum { SHOW_BAR_SQUARES = 64 };

// The squares of both columns at clock t, the left column first; returns how
// many there are. The left column grows upwards from pattern 4, one square
// every 161 ms, the right one downwards from pattern 5; both sway sideways.
int BarSquares(std::int32_t t, BarSquare (&squares)[SHOW_BAR_SQUARES]);

// The draw operations on the show's GL context.
ShowDrawOps &GLDrawOps();

// Pattern, step and flash for clock t (milliseconds, not negative).
void UpdateTimeline(ShowTimeline &timeline, std::int32_t t);

// Draws the current pattern's schedule at clock t.
void DrawSchedule(const ShowTimeline &timeline, std::int32_t t, const ShowData &data, ShowDrawOps &ops);
