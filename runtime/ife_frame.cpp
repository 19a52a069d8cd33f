// Runtime glue: key search and easing of interface layers (see ife_frame.h).
#include "runtime/ife_frame.h"

#include <cmath>
#include <cstdint>

namespace {

constexpr long double kHalfPi = 1.570796326794896619231321691639751442L;

}  // namespace

extern "C" float IfeInterpolate(std::uint8_t ease, float f, float a, float b) {
  const long double from = a, span = static_cast<long double>(b) - a, x = f;
  switch (ease) {
    case 0:
      return static_cast<float>(from + span * x);
    case 1:
      return static_cast<float>(from + span * std::sin(kHalfPi * x));
    case 2:
      return static_cast<float>(from + span * (1.0L - std::sin(kHalfPi + kHalfPi * x)));
    default:  // no such easing: hold key a
      return a;
  }
}

bool IfeKeySpan(const ife_layer &layer, float t, std::int32_t *a, std::int32_t *b, float *f) {
  const std::int32_t count = layer.keys ? layer.keyCount : 0;
  if (count <= 0) return false;
  const double at = t;
  std::int32_t current = 0, next = count - 1;
  for (std::int32_t j = 0; j < count; ++j)
    if (at >= layer.keys[j].time) current = j;
  for (std::int32_t j = count - 1; j >= 0; --j)
    if (at <= layer.keys[j].time) next = j;
  float fraction = 0;
  const std::int64_t span = std::int64_t{layer.keys[next].time} - layer.keys[current].time;
  if (current != next && span != 0 && !std::isnan(t))
    fraction = static_cast<float>((static_cast<long double>(t) - layer.keys[current].time) / span);
  *a = current;
  *b = next;
  *f = fraction;
  return true;
}

bool IfeLayerFrame(const ife_layer &layer, float t, IfeFrame *frame) {
  std::int32_t a = 0, b = 0;
  float f = 0;
  if (!IfeKeySpan(layer, t, &a, &b, &f)) return false;
  const ife_keys &ka = layer.keys[a], &kb = layer.keys[b];
  auto value = [&](float ife_keys::*field) { return IfeInterpolate(ka.ease, f, ka.*field, kb.*field); };
  frame->angle = value(&ife_keys::angle);
  frame->x = value(&ife_keys::x);
  frame->y = value(&ife_keys::y);
  frame->width = value(&ife_keys::width);
  frame->height = value(&ife_keys::height);
  frame->red = value(&ife_keys::red) / 255;
  frame->green = value(&ife_keys::green) / 255;
  frame->blue = value(&ife_keys::blue) / 255;
  frame->alpha = value(&ife_keys::alpha) / 255;
  return true;
}
