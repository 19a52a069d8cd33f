// The show's frame-rate counter and debug overlay. The counter runs every
// frame; with -debug the overlay prints a status line (clock, frame number,
// frame rate, step and pattern) in row 1 and a beat bar in row 3 of the
// debug font's grid (show/font.h), top left. Main thread only.
#pragma once

#include <cstdint>

#include "runtime/gl.h"
#include "runtime/shortstr.h"

// Longest beat bar, in "=" characters.
enum { OVERLAY_BAR_MAX = 22 };

// The overlay's state; owned by this module, read by the tests.
struct ShowOverlay {
  GLuint font;              // GL name of the debug font texture (BuildDebugFont)
  std::int32_t frames;      // frames counted since the last rate update
  std::int32_t lastUpdate;  // show time of the last rate update, ms
  ShortStr<32> rateText;    // the rate with two decimals; "0" before the first update
  ShortStr<48> rateLine;    // "FPS : [" rate text "]" and a character with code 0
};

extern "C" {

extern ShowOverlay showOverlay;

// Start of the show (t = 0): no frames counted, last update at 0, rate text "0".
// The font texture is kept.
void ResetFrameRate(void);

// Counts one frame at show time t (every frame, with or without -debug).
// Once t is 200 ms or more past the last update the rate text becomes
// frames / elapsed * 1000 with two decimals and the count starts again; a
// clock moved back leaves the rate as it is until t passes the old update
// time by 200 ms. Rebuilds the rate line.
void CountFrame(std::int32_t t);

// Draws the overlay into the current frame with the font texture: the status
// line with the blend state the frame left, then the beat bar added on top
// (leaves blending on with GL_ONE, GL_ONE, lighting and the depth test off).
// Expects the frame loop's state: viewport 800 by 600, identity matrices.
void DrawOverlay(std::int32_t t, std::int32_t step, std::int32_t pattern, float flash);

}  // extern "C"

// The status line: t, " frame : ", t div 40, " ", the rate line, " ", step,
// " / ", pattern, cut to 255 characters.
ShortString StatusLine(std::int32_t t, std::int32_t step, std::int32_t pattern, std::string_view rateLine);

// The beat bar: round(16 * flash) "=" characters, halves to the even
// neighbour, none for 0 or less (or NaN), at most OVERLAY_BAR_MAX.
ShortStr<OVERLAY_BAR_MAX> BeatBar(float flash);
