// The show's timeline: pattern state and the fixed schedule.
#include "show/timeline.h"

#include <cmath>

#include "runtime/gl.h"
#include "runtime/showstate.h"

namespace {

using Real = long double;  // the schedule's times are computed in extended precision

constexpr Real kStepMs = 80.9L;
constexpr Real kFlashDecayMs = 200;

// Pattern starts the schedule counts from.
constexpr std::int32_t PatternStart(int pattern) { return pattern * SHOW_PATTERN_MS; }

bool FlashStep(std::int32_t step) { return step == 8 || step == 24 || step == 40 || step == 56; }

float Single(Real value) { return static_cast<float>(value); }

// Steps 1 to 8 of patterns 1 to 10: background, rotozoomer, overlay, logo,
// bars, oops and the white flashes of patterns 2 and 3.
void CoreBlock(const ShowTimeline &tl, std::int32_t t, const ShowData &d, ShowDrawOps &ops) {
  const int pattern = tl.showPattern;
  ops.Draw(d.background, Single((t - PatternStart(1)) / 5.178L));
  if (pattern >= 2) ops.Draw(d.rotozoomer, Single((t % 50000) / 50.0L));
  ops.Draw(d.overlay, Single((t - PatternStart(1)) / 5.178L));
  ops.Draw(d.logo, Single(t / 10.356L));
  ops.Bars(d.barTexture, t);
  if (pattern >= 3) ops.Draw(d.oops, Single(500 * std::sin(t / 1000.0L) + 500));
  if (pattern >= 2) ops.Draw(d.whiteFlash, Single(t - PatternStart(2)));
  if (pattern >= 3) ops.Draw(d.whiteFlash, Single(t - PatternStart(3)));
}

class GLOps final : public ShowDrawOps {
 public:
  void Draw(const ife_interface &ife, float t) override { IfeDraw(&ife, t); }

  void Copy(std::int32_t framebufferTexture) override {
    rgl::glEnable(GL_TEXTURE_2D);
    rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(framebufferTexture));
    rgl::glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, SHOW_WIDTH, SHOW_HEIGHT, 0);
    rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }

  // Drawn with the colour and texturing the logo's draw left behind.
  void Bars(std::int32_t barTexture, std::int32_t t) override {
    IfeScreenProjection();
    rgl::glEnable(GL_BLEND);
    rgl::glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(barTexture));
    BarSquare squares[SHOW_BAR_SQUARES];
    const int count = BarSquares(t, squares);
    // Each corner with its texture coordinate, so that the image stands upright.
    rgl::glBegin(GL_QUADS);
    for (int i = 0; i < count; ++i) {
      const auto [x, y] = squares[i];
      rgl::glTexCoord2f(0, 1);
      rgl::glVertex2f(x, y);
      rgl::glTexCoord2f(1, 1);
      rgl::glVertex2f(x + 16, y);
      rgl::glTexCoord2f(1, 0);
      rgl::glVertex2f(x + 16, y + 16);
      rgl::glTexCoord2f(0, 0);
      rgl::glVertex2f(x, y + 16);
    }
    rgl::glEnd();
  }
};

}  // namespace

int BarSquares(std::int32_t t, BarSquare (&squares)[SHOW_BAR_SQUARES]) {
  const Real now = t;
  int count = 0;
  // The left column sways around x = 144, the right one around x = 770.
  for (int i = 0; i < 32; ++i)
    if (161 * i + PatternStart(4) < t)
      squares[count++] = {Single(16 * std::sin(now / 400 + i / 5.0L) + 144), Single(18.0L * i + 12)};
  for (int i = 0; i < 32; ++i)
    if (161 * i + PatternStart(5) < t)
      squares[count++] = {Single(770 - 10 * std::sin(now / 500 + i / 4.0L)), Single(574 - 18.0L * i)};
  return count;
}

ShowDrawOps &GLDrawOps() {
  static GLOps ops;
  return ops;
}

void UpdateTimeline(ShowTimeline &tl, std::int32_t t) {
  tl.showPattern = t / SHOW_PATTERN_MS;
  tl.showStep = static_cast<std::int32_t>((t % SHOW_PATTERN_MS) / kStepMs);
  if (FlashStep(tl.showStep)) {
    tl.showFlash = 1;
    tl.showFlashStart = static_cast<float>(t);
    return;
  }
  // Not clamped above: a clock moved back puts the flash start in the future.
  const Real flash = 1 - (t - static_cast<Real>(tl.showFlashStart)) / kFlashDecayMs;
  tl.showFlash = flash < 0 ? 0.0f : Single(flash);
}

void DrawSchedule(const ShowTimeline &tl, std::int32_t t, const ShowData &d, ShowDrawOps &ops) {
  const int pattern = tl.showPattern;
  if (pattern <= 0) {
    ops.Draw(d.logo, Single(t / 10.356L));
    ops.Draw(d.whiteFlash, Single(1000 - (1000.0L * tl.showFlash) / 2));
    return;
  }
  if (pattern >= 11) {
    ops.Draw(d.end, Single((t - PatternStart(11)) / 10.5L));
    return;
  }
  CoreBlock(tl, t, d, ops);
  if (pattern == 7 || pattern == 8) {
    // Blur passes over copies of the scene, following the beat.
    ops.Copy(d.framebufferTexture);
    ops.Draw(d.hBlur, Single(1000.0L * tl.showFlash));
    ops.Copy(d.framebufferTexture);
    ops.Draw(d.vBlur, Single(1000.0L * tl.showFlash));
    ops.Draw(d.whiteFlash, Single(t - PatternStart(7)));
  } else if (pattern == 9 || pattern == 10) {
    // Tiling and a second rotozoomer over copies of the scene.
    ops.Copy(d.framebufferTexture);
    ops.Draw(d.fourByFour, 0);
    ops.Copy(d.framebufferTexture);
    ops.Draw(d.rotozoomer2, Single(t / 66.0L));
    ops.Draw(d.whiteFlash, Single(t - PatternStart(9)));
  }
}
