// The debug font and the overlay in the show's own window (Mesa under the X
// server): the texture read back from GL against the table, glyphs and the
// overlay read back from the 800 by 600 frame against the pixels the table
// gives. Each case runs in a forked child. A frame that does not match is
// written as frame.png into the case's scratch directory (kept on failure);
// with BRISK_FRAME_DIR set every frame read back is written there. Queries
// the runtime does not load go through the framework's GL table (glFn).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/gl_stub.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/window.h"
#include "show/font.h"
#include "show/overlay.h"
#include "tests/runtime/support.h"

namespace {

using namespace std::string_literals;
using rttest::InChild;

constexpr int kW = 800, kH = 600;

// A texel of the font as the table describes it: row y, column x.
bool TableLit(int x, int y) {
  if (y >= 36) return false;
  return (debugFont[static_cast<std::size_t>(y * 8 + x / 8)] >> (x % 8)) & 1;
}

// A texel of glyph cell pixel (dx, dy) of character c (32..127).
bool GlyphLit(int c, int dx, int dy) {
  const int g = c - 32;
  return TableLit((g % 16) * 4 + dx, (g / 16) * 6 + dy);
}

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb &) const = default;
};

constexpr Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0};
constexpr Rgb kBackground{64, 128, 192};

// A frame, top row first.
struct Frame {
  std::vector<Rgb> px = std::vector<Rgb>(kW * kH, kBackground);
  Rgb &at(int x, int y) { return px[static_cast<std::size_t>(y * kW + x)]; }
  bool operator==(const Frame &) const = default;
};

// The cell of character c with its top left pixel at (x, y): opaque (lit
// white, unlit black) or added to what is there. Characters outside 32..127
// are blank.
void PutCell(Frame &f, int c, int x, int y, bool additive = false) {
  for (int dy = 0; dy < DEBUG_FONT_CELL_H; ++dy)
    for (int dx = 0; dx < DEBUG_FONT_CELL_W; ++dx) {
      const bool lit = c >= 32 && c <= 127 && GlyphLit(c, dx, dy);
      Rgb &p = f.at(x + dx, y + dy);
      if (!additive) p = lit ? kWhite : kBlack;
      else if (lit) p = kWhite;  // anything plus 255 saturates
    }
}

// Text on the grid from column col, row row.
void PutText(Frame &f, std::string_view text, int col, int row, bool additive = false) {
  for (std::size_t i = 0; i < text.size(); ++i)
    PutCell(f, static_cast<std::uint8_t>(text[i]), (col + static_cast<int>(i)) * 4, row * 6, additive);
}

void SavePng(const Frame &f, const std::string &path) {
  txBitmap *b = txCreateDummy(1, kW, kH);
  ASSERT_NE(b, nullptr);
  b->order = TX_ORDER_BGR;  // with format 1 the writer takes the bytes red first
  std::memcpy(b->image[0], f.px.data(), f.px.size() * sizeof(Rgb));
  EXPECT_EQ(txSave(TX_FILE_PNG, path.c_str(), b), 0) << path;
  txFree(&b);
}

// The back buffer of the frame drawn so far.
Frame ReadFrame(const char *name) {
  Frame f;
  std::vector<Rgb> rows(f.px.size());
  rgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glFn.glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  for (int y = 0; y < kH; ++y)  // GL's first row is the bottom one
    std::memcpy(&f.at(0, y), &rows[static_cast<std::size_t>((kH - 1 - y) * kW)], kW * sizeof(Rgb));
  if (const char *dir = std::getenv("BRISK_FRAME_DIR")) SavePng(f, std::string(dir) + "/" + name + ".png");
  return f;
}

// Compares two frames; on a difference names the first pixels that differ
// and keeps the frame read back as frame.png.
void ExpectFrame(const Frame &got, const Frame &want, const std::string &what) {
  if (got == want) return;
  int shown = 0, wrong = 0;
  std::string where;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const Rgb g = got.px[static_cast<std::size_t>(y * kW + x)];
      const Rgb w = want.px[static_cast<std::size_t>(y * kW + x)];
      if (g == w) continue;
      ++wrong;
      if (shown++ < 8)
        where += " (" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(g.r) + "/" +
                 std::to_string(g.g) + "/" + std::to_string(g.b) + " want " + std::to_string(w.r) + "/" +
                 std::to_string(w.g) + "/" + std::to_string(w.b);
    }
  ADD_FAILURE() << what << ": " << wrong << " pixels differ:" << where;
  SavePng(got, "frame.png");
}

// The show's window and GL context, the font texture, and the frame loop's
// state before the overlay: viewport 800 by 600, identity matrices, white,
// no depth test, no blending; the frame cleared to kBackground.
void OpenShow() {
  rttest::StartUnits({"./font_test"});
  SYS_InitSubsystems();
  OpenShowWindow("font test", nullptr, nullptr, nullptr);
  ASSERT_NE(showWindow, nullptr);
  showOverlay.font = BuildDebugFont();
  ASSERT_NE(showOverlay.font, 0u);
  rgl::glViewport(0, 0, kW, kH);
  rgl::glClearColor(kBackground.r / 255.0f, kBackground.g / 255.0f, kBackground.b / 255.0f, 1);
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  rgl::glMatrixMode(GL_PROJECTION);
  rgl::glLoadIdentity();
  rgl::glMatrixMode(GL_MODELVIEW);
  rgl::glLoadIdentity();
  rgl::glDisable(GL_DEPTH_TEST);
  rgl::glDisable(GL_BLEND);
  rgl::glColor3f(1, 1, 1);
}

// --- the table -------------------------------------------------------------

TEST(DebugFont, FontPixelReadsOneBitOfTheTable) {
  struct Case {
    int r, b;
    std::uint8_t want;
  };
  const Case cases[] = {
      {0, 6, 255}, {0, 7, 0},   {0, 0, 0},  // 0x40
      {1, 0, 0},   {1, 1, 255}, {1, 3, 255}, {1, 5, 255}, {1, 7, 255}, {1, 2, 0},  // 0xEA
      {287, 4, 255}, {287, 7, 255}, {287, 3, 0},  // 0xF0, the last byte
      {-1, 0, 0},  {288, 0, 0},  {0, 8, 0},  {0, -1, 0},  // out of range
  };
  for (const Case &c : cases) EXPECT_EQ(FontPixel(c.r, c.b), c.want) << "r " << c.r << " b " << c.b;
}

// The glyph shapes the table must give: spaced cells, descenders, the block.
TEST(DebugFont, TheTableSpacesTheGlyphsAndOnlyDescendersReachTheBottomRow) {
  const std::string bottom = "$,;_gjpqy\x7f";
  for (int c = 32; c <= 127; ++c) {
    bool left = false, low = false;
    for (int dy = 0; dy < 6; ++dy) left |= GlyphLit(c, 0, dy);
    for (int dx = 0; dx < 4; ++dx) low |= GlyphLit(c, dx, 5);
    EXPECT_EQ(left, c == '_' || c == 127) << "leftmost column of " << c;
    EXPECT_EQ(low, bottom.find(static_cast<char>(c)) != std::string::npos) << "bottom row of " << c;
  }
  for (int dy = 0; dy < 6; ++dy)
    for (int dx = 0; dx < 4; ++dx) EXPECT_TRUE(GlyphLit(127, dx, dy)) << "block pixel " << dx << "," << dy;
  for (int dy = 0; dy < 6; ++dy)
    for (int dx = 0; dx < 4; ++dx) EXPECT_FALSE(GlyphLit(' ', dx, dy)) << "space pixel " << dx << "," << dy;
}

// --- the texture -----------------------------------------------------------

TEST(DebugFont, TheTextureHoldsTheTableBitForBit) {
  InChild([] {
    OpenShow();
    GLint bound = -1;
    rgl::glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, static_cast<GLint>(showOverlay.font));
    EXPECT_TRUE(glFn.glIsEnabled(GL_TEXTURE_2D));

    auto level = [](GLenum what) {
      GLint v = -1;
      glFn.glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &v);
      return v;
    };
    auto parameter = [](GLenum what) {
      GLint v = -1;
      glFn.glGetTexParameteriv(GL_TEXTURE_2D, what, &v);
      return v;
    };
    EXPECT_EQ(level(GL_TEXTURE_WIDTH), 64);
    EXPECT_EQ(level(GL_TEXTURE_HEIGHT), 64);
    EXPECT_EQ(level(GL_TEXTURE_INTERNAL_FORMAT), 1) << "one component, as given";
    EXPECT_EQ(level(GL_TEXTURE_LUMINANCE_SIZE), 8);
    EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);

    std::vector<std::uint8_t> texels(64 * 64 + 16, 0xEE);
    rgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glFn.glGetTexImage(GL_TEXTURE_2D, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(texels[64 * 64], 0xEE) << "GL wrote past the level";
    int wrong = 0;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const std::uint8_t want = TableLit(x, y) ? 255 : 0;
        if (texels[static_cast<std::size_t>(y * 64 + x)] != want && wrong++ < 8)
          ADD_FAILURE() << "texel " << x << "," << y << " is " << int(texels[static_cast<std::size_t>(y * 64 + x)]);
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(rgl::glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  });
}

// --- glyphs in the frame ---------------------------------------------------

TEST(DebugFont, TextLandsPixelForPixelInTheFrame) {
  struct Case {
    const char *what;
    std::string text;
    bool direct;
    float a, b;
    int x, y;  // top left pixel of the first cell
  };
  const Case cases[] = {
      {"A at column 1, row 1", "A", false, 1, 1, 4, 6},
      {"the top left cell", "#", false, 0, 0, 0, 0},
      {"the bottom right cell", "g", false, 199, 99, 796, 594},
      {"a line of text", "Hi, _ {}|~\x7f", false, 10, 20, 40, 120},
      {"outside 32..127 draw as blank cells", "a\x01\x1f\x80\xff" "b", false, 3, 50, 12, 300},
      {"code 0 draws as a blank cell", "x\0y"s, false, 3, 52, 12, 312},
      {"device coordinates", "Mq", true, 0.0f, 0.0f, 400, 300},
      {"device coordinates, left and up", "0123456789", true, -0.5f, 0.5f, 200, 150},
  };
  for (const Case &c : cases) {
    InChild([&] {
      OpenShow();
      DebugText(c.text, c.direct, c.a, c.b);
      Frame want;
      for (std::size_t i = 0; i < c.text.size(); ++i)
        PutCell(want, static_cast<std::uint8_t>(c.text[i]), c.x + 4 * static_cast<int>(i), c.y);
      ExpectFrame(ReadFrame("text"), want, c.what);
      EXPECT_EQ(rgl::glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << c.what;
    });
  }
}

// --- the overlay -----------------------------------------------------------

// The status line in row 1, drawn opaque (no blending was left on); the
// beat bar in row 3, added; the frame-rate text from 12 frames over 200 ms.
TEST(Overlay, DrawsTheStatusLineAndAddsTheBeatBar) {
  struct Case {
    float flash;
    int bar;
  };
  for (const Case c : {Case{0.5f, 8}, Case{2.0f, 22}, Case{0.0f, 0}}) {
    InChild([&] {
      OpenShow();
      ResetFrameRate();
      for (int i = 1; i <= 12; ++i) CountFrame(i * 200 / 12);
      ASSERT_EQ(std::string(showOverlay.rateText.view()), "60.00");
      rgl::glBindTexture(GL_TEXTURE_2D, 0);
      rgl::glDisable(GL_TEXTURE_2D);
      DrawOverlay(12345, 9, 2, c.flash);

      Frame want;
      PutText(want, "12345 frame : 308 FPS : [60.00]\0 9 / 2"s, 1, 1);
      PutText(want, std::string(static_cast<std::size_t>(c.bar), '='), 1, 3, true);
      ExpectFrame(ReadFrame("overlay"), want, "flash " + std::to_string(c.flash));

      EXPECT_TRUE(glFn.glIsEnabled(GL_BLEND));
      GLint src = -1, dst = -1;
      rgl::glGetIntegerv(GL_BLEND_SRC, &src);
      rgl::glGetIntegerv(GL_BLEND_DST, &dst);
      EXPECT_EQ(src, GL_ONE);
      EXPECT_EQ(dst, GL_ONE);
      EXPECT_EQ(rgl::glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    });
  }
}

// Under a blend the schedule left on, the status line's cells are blended
// too: with GL_ONE, GL_ONE only its lit pixels show.
TEST(Overlay, TheStatusLineTakesTheBlendTheFrameLeft) {
  InChild([] {
    OpenShow();
    ResetFrameRate();
    CountFrame(10);
    rgl::glEnable(GL_BLEND);
    rgl::glBlendFunc(GL_ONE, GL_ONE);
    DrawOverlay(40, 1, 0, 0.25f);
    Frame want;
    PutText(want, "40 frame : 1 FPS : [0]\0 1 / 0"s, 1, 1, true);
    PutText(want, "====", 1, 3, true);
    ExpectFrame(ReadFrame("overlay-blended"), want, "blended");
  });
}

}  // namespace
