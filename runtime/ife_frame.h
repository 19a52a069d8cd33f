// Runtime glue: what one interface layer looks like at a time, the part of
// IfeDraw (runtime/ife.h) that needs no GL.
#pragma once

#include <cstdint>

#include "runtime/ife.h"

// A layer's interpolated key values; colour and alpha from 0 to 1.
struct IfeFrame {
  float x, y;           // centre, pixels of the 800 by 600 screen
  float angle;          // degrees, counter-clockwise
  float width, height;  // pixels
  float red, green, blue, alpha;
};

// The keys a and b around t (a: the last key with t >= its time, else 0;
// b: the first key with t <= its time, else the last one) and the fraction
// between them. False for a layer without keys.
bool IfeKeySpan(const ife_layer &layer, float t, std::int32_t *a, std::int32_t *b, float *f);

// The layer at time t, eased by key a's ease. The fraction is 0 when a = b,
// when both keys have the same time and when t is not a number, so every
// value is that of a key or lies between two keys' values. False for a
// layer without keys (nothing to draw).
bool IfeLayerFrame(const ife_layer &layer, float t, IfeFrame *frame);
