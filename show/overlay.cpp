// The show's frame-rate counter and debug overlay (see overlay.h).
#include "show/overlay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "show/font.h"

namespace {

// Rate updates are at least this far apart, ms.
constexpr std::int64_t kRatePeriod = 200;

constexpr char kBar[] = "======================";
static_assert(sizeof(kBar) - 1 == OVERLAY_BAR_MAX);

// The rate line ends in a character with code 0, drawn as a blank cell.
constexpr std::string_view kRateEnd("]\0", 2);

std::string_view Decimal(std::int32_t n, char (&buffer)[16]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
  return {buffer, static_cast<std::size_t>(end - buffer)};
}

}  // namespace

extern "C" {

constinit ShowOverlay showOverlay = {0, 0, 0, ShortStr<32>(std::string_view("0")), {}};

void ResetFrameRate(void) {
  showOverlay.frames = 0;
  showOverlay.lastUpdate = 0;
  showOverlay.rateText.assign("0");
  showOverlay.rateLine.assign({});
}

void CountFrame(std::int32_t t) {
  ShowOverlay &o = showOverlay;
  if (o.frames < std::numeric_limits<std::int32_t>::max()) ++o.frames;
  // Elapsed time in 64 bits: the clock may have been moved either way.
  const std::int64_t elapsed = std::int64_t{t} - o.lastUpdate;
  if (elapsed >= kRatePeriod) {
    const long double rate = static_cast<long double>(o.frames) / static_cast<long double>(elapsed) * 1000.0L;
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%.2Lf", rate);
    o.rateText = std::string_view(text, n > 0 ? std::min(static_cast<std::size_t>(n), sizeof text - 1) : 0);
    o.lastUpdate = t;
    o.frames = 0;
  }
  o.rateLine.assign("FPS : [");
  o.rateLine += o.rateText;
  o.rateLine += kRateEnd;
}

void DrawOverlay(std::int32_t t, std::int32_t step, std::int32_t pattern, float flash) {
  rgl::glColor3f(1, 1, 1);
  rgl::glBindTexture(GL_TEXTURE_2D, showOverlay.font);
  rgl::glEnable(GL_TEXTURE_2D);
  DebugText(StatusLine(t, step, pattern, showOverlay.rateLine), false, 1, 1);
  // The bar is added: only its lit pixels show.
  rgl::glEnable(GL_BLEND);
  rgl::glDisable(GL_LIGHTING);
  rgl::glDisable(GL_DEPTH_TEST);
  rgl::glBlendFunc(GL_ONE, GL_ONE);
  DebugText(BeatBar(flash), false, 1, 3);
}

}  // extern "C"

ShortString StatusLine(std::int32_t t, std::int32_t step, std::int32_t pattern, std::string_view rateLine) {
  char buffer[16];
  ShortString line;
  line += Decimal(t, buffer);
  line += " frame : ";
  line += Decimal(t / 40, buffer);
  line += " ";
  line += rateLine;
  line += " ";
  line += Decimal(step, buffer);
  line += " / ";
  line += Decimal(pattern, buffer);
  return line;
}

ShortStr<OVERLAY_BAR_MAX> BeatBar(float flash) {
  const float scaled = 16.0f * flash;  // exact: a power of two
  if (!(scaled > 0.0f)) return {};     // 0 or less, and NaN
  // nearbyint rounds in the default mode, halves to the even neighbour.
  constexpr float kMax = OVERLAY_BAR_MAX;
  const float n = scaled >= kMax ? kMax : std::nearbyint(scaled);
  return std::string_view(kBar, static_cast<std::size_t>(n));
}
