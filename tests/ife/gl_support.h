// Helpers of the interface tests in GL: the runtime brought up as the show
// does with an 800 by 600 window and its context, interfaces written as text
// and loaded with IfeLoad, images written with the image module's writers,
// and what GL holds read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/gl.h"
#include "runtime/ife.h"

namespace ifetest {

// The runtime units, the registered start procedures, an 800 by 600 window
// with its current context, the capability check and an empty texture cache.
void StartGL();

// One layer: image name, two empty texts, the key count, blend and the key lines.
std::string Layer(const std::string &image, int blend, const std::vector<std::string> &keys);
// An interface file of these layers (second header value 0).
std::string Interface(const std::vector<std::string> &layers);
// Writes text as the file name and loads it with IfeLoad.
ife_interface Load(const std::string &name, const std::string &text, const std::string &prefix = "");

struct Rgb {
  int r, g, b;
  friend bool operator==(const Rgb &, const Rgb &) = default;
};
void PrintTo(const Rgb &c, std::ostream *os);

// A 24-bit image whose pixel (x, y), y = 0 the top row, is colour(x, y),
// written with the image module's filter `type` (TX_FILE_TGA, TX_FILE_JPEG ...).
void WriteImage(const std::string &path, int type, int width, int height, const std::function<Rgb(int, int)> &colour);

// Clears the back buffer to this colour (0..255).
void Clear(Rgb colour);
// The back buffer's pixels of row y (0 at the bottom), red, green, blue each.
std::vector<std::uint8_t> Row(int y);
Rgb Pixel(int x, int y);
// Within `tolerance` in every channel.
bool Near(Rgb a, Rgb b, int tolerance);

// GL calls the runtime does not load for itself.
template <typename F>
F Proc(const char *name) {
  auto f = reinterpret_cast<F>(GetGLProc(name));
  EXPECT_NE(f, nullptr) << name;
  return f;
}
bool IsEnabled(GLenum what);
GLint Integer(GLenum what);
std::vector<float> Floats(GLenum what, int count);
GLint TextureParameter(GLuint texture, GLenum what);

}  // namespace ifetest
