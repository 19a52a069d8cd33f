// Runtime glue: interfaces, the show's 2D animations (".ife" text files).
//
// An interface is a list of layers, each one textured quad whose centre,
// angle, size and colour follow a list of timed keys. IfeLoad reads a file
// and resolves each layer's texture (through the texture cache or one of the
// special names below); IfeDraw draws every layer as it stands at a time.
//
// File format (text; a line starting with "#" is skipped wherever it occurs,
// every other line, an empty one too, is a data line, trimmed of blanks and
// control characters at both ends):
//   layer count N
//   param (kept, unused)
//   N times: image name / second text / third text / key count K / blend
//            then K key lines of eleven numbers separated by single spaces:
//            time x y ease angle width height red green blue alpha
//
// Special image names, compared with case:
//   "white.tga"              drawn untextured (texture 0)
//   "BUF0.JPG".."BUF7.JPG"   ifeBufTextures[0..7] at load time (slot 0 holds
//                            the show's copy of the back buffer)
//   other names from "BUF"   texture 0
//   "RT", "GLOW"             ifeRenderTarget, ifeGlowTexture at load time
//   anything else            TexCacheLoad(prefix + "/" + name, 1)
// Main thread only, with the show's GL context current.
#pragma once

#include <cstdint>
#include <string>

#include "base/file.h"
#include "runtime/shortstr.h"

// One key of a layer.
struct ife_keys {
  std::int32_t time;  // in the unit of IfeDraw's time argument
  float x;            // centre, pixels of an 800 by 600 screen, 0 at the left
  float y;            // centre, 0 at the bottom
  std::uint8_t ease;  // towards the next key: 0 linear, 1 ease-out, 2 ease-in
  float angle;        // degrees, counter-clockwise
  float width;        // quad size in pixels
  float height;
  float red, green, blue, alpha;  // 0 to 255
};

// The file format's bounds: keys 0..10000 of a layer, layers 0..1000 of an interface.
enum { IFE_MAX_KEYS = 10001, IFE_MAX_LAYERS = 1001 };

struct ife_layer {
  ShortString image;      // texture file name or a special name
  ShortString text2;      // kept, unused
  ShortString text3;      // kept, unused
  std::int32_t texture;   // GL texture drawn with; 0 = none
  std::int32_t keyCount;
  std::uint8_t blend;     // 0 opaque, 1 additive, 2 alpha, 3 inverted alpha, 4 colour, 5 darken; other: unchanged
  ife_keys *keys;         // keyCount keys in file order ("Animation keys for interface")
};

struct ife_interface {
  std::int32_t layerCount;
  std::int32_t param;   // kept, unused
  ife_layer *layers;    // layerCount layers in file order ("Interface layers"); null when there are none
};

extern "C" {

// Process-wide texture slots a host fills before loading; all start at 0.
extern std::int32_t ifeBufTextures[8];
extern std::int32_t ifeRenderTarget;
extern std::int32_t ifeGlowTexture;

// Loads the file `name` (opened by its name alone) into record. `prefix` is
// the directory of the layers' textures (empty: the names as they stand).
// Any failure ends the process through SYS_FatalError with a message naming
// the file and the line.
void IfeLoad(ife_interface *record, const ShortString *name, const ShortString *prefix);

// Draws every layer of record as it stands at time t. Sets its own
// projection for an 800 by 600 screen and leaves the GL state of its last
// layer behind (blend, texturing, binding, colour, projection; model-view
// current), which callers that draw after it rely on. A layer without keys
// is skipped; keys of equal time around t, or a t that is not a number, give
// key a's values; an ease other than 0..2 holds key a.
void IfeDraw(const ife_interface *record, float t);

// a + (b - a) * f with the easing `ease` (0 linear, 1 ease-out, 2 ease-in),
// computed in extended precision; any other ease gives a.
float IfeInterpolate(std::uint8_t ease, float f, float a, float b);

// Identity texture and model-view matrices, then the projection matrix, left
// current, set to the 800 by 600 screen (x to the right, y up, from the
// bottom left corner). Every layer starts from it; so do the show's bars.
void IfeScreenProjection(void);

}  // extern "C"

// The next data line of file: comments skipped, the line logged (as a line of its own), trimmed and
// cut to 255 characters; empty at the end of the file. Of a line longer than
// 511 characters the rest is dropped.
ShortString IfeReadLine(SYS_File_t *file);

// Field n (from 1) of a key line as a number; 0 when empty, missing or not a number.
float IfeField(const ShortString &line, int n);
