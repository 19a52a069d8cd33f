// The show's sound track, synthesised: drums, bass, pads, an arpeggio and a
// bell lead, arranged on the show's grid of 13 patterns of 64 steps.
#pragma once

#include <cstddef>
#include <vector>

namespace track {

constexpr int kRate = 44100;

// The show's grid: a pattern is 5178 ms, a step 80.9 ms (64 steps to the
// pattern, 16 to a bar). The picture flashes at steps 8, 24, 40 and 56 of
// every pattern; the track puts a kick on each of them.
constexpr double kPatternMs = 5178.0;
constexpr double kStepMs = 80.9;
constexpr int kStepsPerPattern = 64;
constexpr int kStepsPerBar = 16;
constexpr int kPatterns = 13;

// The show ends at 67314 ms; the track runs a little longer so that it never
// stops before the picture does.
constexpr double kLengthMs = 67400.0;

struct Stereo {
  std::vector<float> left, right;  // samples in -1..1, one per frame
  std::size_t frames() const { return left.size(); }
};

// The whole track at kRate, kLengthMs long, peaking just below full scale.
// Deterministic: the same program always makes the same samples.
Stereo Render();

}  // namespace track
