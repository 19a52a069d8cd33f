// The show's built-in debug font (see font.h).
#include "show/font.h"

namespace {

// Size of one glyph cell in device coordinates (single precision, as the
// quads are sent) and in texture coordinates.
constexpr float kCellW = 0.01f;
constexpr float kCellH = 0.02f;
constexpr float kTexW = 0.0625f;   // 4 of 64 texels
constexpr float kTexH = 0.09375f;  // 6 of 64 texels

constexpr int kTexels = DEBUG_FONT_SIZE * DEBUG_FONT_SIZE;

// The texture's bytes: one per texel, 255 lit, 0 unlit; the rows past the
// table stay 0.
constexpr std::array<std::uint8_t, kTexels> MakeTexels() {
  std::array<std::uint8_t, kTexels> texels{};
  for (int r = 0; r < static_cast<int>(debugFont.size()); ++r)
    for (int b = 0; b < 8; ++b) texels[static_cast<std::size_t>(r * 8 + b)] = FontPixel(r, b);
  return texels;
}

constexpr std::array<std::uint8_t, kTexels> kFontTexels = MakeTexels();

}  // namespace

extern "C" {

GLuint BuildDebugFont(void) {
  GLuint texture = 0;
  rgl::glGenTextures(1, &texture);
  rgl::glEnable(GL_TEXTURE_2D);
  rgl::glBindTexture(GL_TEXTURE_2D, texture);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  // Internal format 1: one component (luminance).
  rgl::glTexImage2D(GL_TEXTURE_2D, 0, 1, DEBUG_FONT_SIZE, DEBUG_FONT_SIZE, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                    kFontTexels.data());
  return texture;
}

void DebugChar(std::uint8_t character, bool direct, float a, float b) {
  int g = character - 32;
  if (g < 0 || g >= DEBUG_FONT_GLYPHS) g = 0;  // outside 32..127: the blank of the space
  // The cell's top left corner; a grid position is worked out in double and
  // rounded once.
  const float x = direct ? a : static_cast<float>(static_cast<double>(a) * kCellW - 1.0);
  const float y = direct ? b : static_cast<float>(1.0 - static_cast<double>(b) * kCellH);
  const float u = static_cast<float>(g % 16) * kTexW;
  const float v = static_cast<float>(g / 16) * kTexH;
  rgl::glBegin(GL_QUADS);
  rgl::glTexCoord2f(u, v);
  rgl::glVertex2f(x, y);
  rgl::glTexCoord2f(u + kTexW, v);
  rgl::glVertex2f(x + kCellW, y);
  rgl::glTexCoord2f(u + kTexW, v + kTexH);
  rgl::glVertex2f(x + kCellW, y - kCellH);
  rgl::glTexCoord2f(u, v + kTexH);
  rgl::glVertex2f(x, y - kCellH);
  rgl::glEnd();
}

}  // extern "C"

void DebugText(std::string_view text, bool direct, float x, float y) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (direct)
      DebugChar(c, true, x + static_cast<float>(i) * kCellW, y);
    else
      DebugChar(c, false, x + static_cast<float>(i), y);
  }
}
