// IfeDraw in a real GL context, read back from the back buffer: positions
// along the keys with each easing, rotation and the texture's orientation,
// the blend modes, back-buffer copies shown upright, and the GL state the
// call leaves behind.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gl_support.h"
#include "image/image.h"
#include "tests/runtime/support.h"

namespace {

using namespace ifetest;
using rttest::InChild;

constexpr Rgb kBlack{0, 0, 0}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kMagenta{255, 0, 255}, kGrey{128, 128, 128};

// A key line: time, centre, ease, angle, size, colour.
std::string Key(float time, float x, float y, int ease, float angle, float w, float h, Rgb c, int alpha = 255) {
  char line[256];
  std::snprintf(line, sizeof line, "%g %g %g %d %g %g %g %d %d %d %d", time, x, y, ease, angle, w, h, c.r, c.g, c.b,
                alpha);
  return line;
}

// Centre of the lit columns of row y (bright green), -1 when none is lit.
double LitCentre(int y) {
  const auto row = Row(y);
  int first = -1, last = -1;
  for (int x = 0; x < 800; ++x)
    if (row[static_cast<size_t>(x) * 3 + 1] > 127) {
      if (first < 0) first = x;
      last = x;
    }
  return first < 0 ? -1 : (first + last + 1) / 2.0;
}

TEST(IfeDraw, TheQuadFollowsItsKeysWithEachEasing) {
  InChild([] {
    StartGL();
    struct Case {
      int ease;
      float t;
      double x;
    } const cases[] = {
        {0, 500, 400},  {0, -100, 0},   {0, 2000, 800}, {0, 250, 200},
        {1, 500, 800 * std::sin(M_PI / 4)},  // 565.7
        {2, 500, 800 * (1 - std::cos(M_PI / 4))},  // 234.3
        {1, -100, 0},   {2, 2000, 800},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE("ease " + std::to_string(c.ease) + " at " + std::to_string(c.t));
      const ife_interface record =
          Load("move.ife", Interface({Layer("white.tga", 0,
                                            {Key(0, 0, 300, c.ease, 0, 2, 600, kGreen),
                                             Key(1000, 800, 300, c.ease, 0, 2, 600, kGreen)})}));
      Clear(kBlack);
      IfeDraw(&record, c.t);
      EXPECT_NEAR(LitCentre(300), c.x, 1.0);
      EXPECT_NEAR(LitCentre(5), c.x, 1.0) << "the quad spans the screen's height";
    }
  });
}

// A texture of four quadrants as the file has them, top row first.
Rgb Quadrants(int x, int y) {
  if (y < 4) return x < 4 ? kGreen : kWhite;
  return x < 4 ? kMagenta : kGrey;
}

TEST(IfeDraw, AngleTurnsTheQuadCounterClockwiseAndTheImageStandsUpright) {
  InChild([] {
    StartGL();
    WriteImage("quads.tga", TX_FILE_TGA, 8, 8, Quadrants);
    struct Sample {
      int x, y;
      Rgb colour;
    };
    struct Case {
      float angle;
      std::array<int, 4> box;  // lit left, right (exclusive), bottom, top (exclusive)
      std::vector<Sample> samples;
    };
    const Case cases[] = {
        // A 200 by 100 quad at (400, 300): the image's top row at the top.
        {0, {300, 500, 250, 350}, {{350, 325, kGreen}, {450, 325, kWhite}, {350, 275, kMagenta}, {450, 275, kGrey}}},
        // A quarter turn counter-clockwise: the image's right side points up.
        {90, {350, 450, 200, 400}, {{375, 250, kGreen}, {375, 350, kWhite}, {425, 250, kMagenta}, {425, 350, kGrey}}},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE("angle " + std::to_string(c.angle));
      const ife_interface record =
          Load("turn.ife", Interface({Layer("quads.tga", 0, {Key(0, 400, 300, 0, c.angle, 200, 100, kWhite)})}));
      Clear(kBlack);
      IfeDraw(&record, 0);
      int left = 800, right = -1, bottom = 600, top = -1;
      for (int y = 0; y < 600; ++y) {
        const auto row = Row(y);
        for (int x = 0; x < 800; ++x) {
          const std::uint8_t *p = &row[static_cast<size_t>(x) * 3];
          if (p[0] + p[1] + p[2] == 0) continue;
          left = std::min(left, x);
          right = std::max(right, x + 1);
          bottom = std::min(bottom, y);
          top = std::max(top, y + 1);
        }
      }
      EXPECT_EQ((std::array<int, 4>{left, right, bottom, top}), c.box);
      for (const Sample &s : c.samples) EXPECT_PRED3(Near, Pixel(s.x, s.y), s.colour, 2) << s.x << ", " << s.y;
    }
  });
}

// The framebuffer after drawing source colour s (with alpha a) over background d in each mode.
Rgb Blended(int mode, Rgb s, int a, Rgb d) {
  auto mix = [&](int sc, int dc) {
    const double S = sc / 255.0, D = dc / 255.0, A = a / 255.0;
    double v = 0;
    switch (mode) {
      case 0: v = S; break;
      case 1: v = S + D; break;
      case 2: v = S * A + D * (1 - A); break;
      case 3: v = S * (1 - A) + D * A; break;
      case 4: v = S * S + D * (1 - S); break;
      case 5: v = D * (1 - S); break;
    }
    return static_cast<int>(std::lround(std::min(v, 1.0) * 255));
  };
  return {mix(s.r, d.r), mix(s.g, d.g), mix(s.b, d.b)};
}

constexpr Rgb kBackground{64, 128, 192}, kSource{200, 100, 50};
constexpr int kAlpha = 128;

TEST(IfeDraw, BlendModesMixTheLayerWithWhatIsThere) {
  InChild([] {
    StartGL();
    for (int mode = 0; mode <= 5; ++mode) {
      SCOPED_TRACE("blend " + std::to_string(mode));
      const ife_interface record = Load(
          "blend.ife", Interface({Layer("white.tga", mode, {Key(0, 400, 300, 0, 0, 100, 100, kSource, kAlpha)})}));
      Clear(kBackground);
      IfeDraw(&record, 0);
      EXPECT_PRED3(Near, Pixel(400, 300), Blended(mode, kSource, kAlpha, kBackground), 2);
      EXPECT_EQ(Pixel(10, 10), kBackground) << "outside the quad";
    }
  });
}

TEST(IfeDraw, ModesOutsideZeroToFiveKeepTheBlendBefore) {
  InChild([] {
    StartGL();
    struct Case {
      int before;  // blend of an invisible first layer; -1: none, the caller's additive state
      int mode;
      int acts_as;
    } const cases[] = {{1, 7, 1}, {0, 7, 0}, {5, 6, 5}, {2, 255, 2}, {-1, 7, 1}};
    for (const Case &c : cases) {
      SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.mode));
      std::vector<std::string> layers;
      if (c.before >= 0) layers.push_back(Layer("white.tga", c.before, {Key(0, 0, 0, 0, 0, 0, 0, kBlack)}));
      layers.push_back(Layer("white.tga", c.mode, {Key(0, 400, 300, 0, 0, 100, 100, kSource, kAlpha)}));
      const ife_interface record = Load("keep.ife", Interface(layers));
      rgl::glEnable(GL_BLEND);
      rgl::glBlendFunc(GL_ONE, GL_ONE);
      Clear(kBackground);
      IfeDraw(&record, 0);
      EXPECT_PRED3(Near, Pixel(400, 300), Blended(c.acts_as, kSource, kAlpha, kBackground), 2);
    }
  });
}

TEST(IfeDraw, BackBufferCopiesAreShownUpright) {
  InChild([] {
    StartGL();
    // Something asymmetric: green in the top-left quarter of a black screen.
    const ife_interface scene =
        Load("scene.ife", Interface({Layer("white.tga", 0, {Key(0, 200, 450, 0, 0, 400, 300, kGreen)})}));
    Clear(kBlack);
    IfeDraw(&scene, 0);
    GLuint copy = 0;
    rgl::glGenTextures(1, &copy);
    rgl::glBindTexture(GL_TEXTURE_2D, copy);
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    rgl::glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 800, 600, 0);
    for (int i = 0; i < 8; ++i) ifeBufTextures[i] = static_cast<std::int32_t>(copy);
    ifeRenderTarget = ifeGlowTexture = static_cast<std::int32_t>(copy);

    struct Case {
      const char *image;
      bool upright;
    } const cases[] = {{"BUF0.JPG", true}, {"BUF2.JPG", true}, {"RT", true},
                       {"BUF1.JPG", false}, {"BUF7.JPG", false}, {"GLOW", false}};
    for (const Case &c : cases) {
      SCOPED_TRACE(c.image);
      const ife_interface record =
          Load("copy.ife", Interface({Layer(c.image, 0, {Key(0, 400, 300, 0, 0, 800, 600, kWhite)})}));
      ASSERT_EQ(record.layers[0].texture, static_cast<std::int32_t>(copy));
      Clear(kMagenta);
      IfeDraw(&record, 0);
      EXPECT_EQ(Pixel(100, 500), c.upright ? kGreen : kBlack);
      EXPECT_EQ(Pixel(100, 100), c.upright ? kBlack : kGreen);
      EXPECT_EQ(Pixel(700, 500), kBlack);
    }
  });
}

// 4x4 column-major products, as GL keeps its matrices.
using Matrix = std::array<double, 16>;
Matrix Multiply(const Matrix &a, const Matrix &b) {
  Matrix m{};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      for (int k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return m;
}
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void ExpectMatrix(GLenum which, const Matrix &want) {
  const std::vector<float> got = Floats(which, 16);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << "element " << i;
}

TEST(IfeDraw, LeavesTheStateOfItsLastLayerBehind) {
  InChild([] {
    StartGL();
    WriteImage("a.tga", TX_FILE_TGA, 8, 8, Quadrants);
    WriteImage("b.tga", TX_FILE_TGA, 8, 8, Quadrants);
    const double angle = 30 * M_PI / 180;
    const Matrix ortho = {2.0 / 800, 0, 0, 0, 0, 2.0 / 600, 0, 0, 0, 0, -1, 0, -1, -1, 0, 1};
    const Matrix moved = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 100, 200, 0, 1};
    const Matrix turned = {std::cos(angle), std::sin(angle), 0, 0, -std::sin(angle), std::cos(angle), 0, 0,
                           0, 0, 1, 0, 0, 0, 0, 1};
    const Matrix projection = Multiply(Multiply(ortho, moved), turned);
    const Matrix junk = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1};

    struct Case {
      const char *what;
      std::vector<std::string> layers;
      bool draws;  // false: only the first and last steps take effect
      bool blend;
      GLint source, destination;
      bool textured;
      int bound_layer;  // -1: the texture bound before the call
    };
    const std::string last_key = Key(0, 100, 200, 0, 30, 50, 50, Rgb{10, 20, 30}, 40);
    const Case cases[] = {
        {"a textured colour-weighted last layer",
         {Layer("a.tga", 1, {Key(0, 1, 1, 0, 0, 5, 5, kWhite)}), Layer("b.tga", 4, {last_key})},
         true, true, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR, true, 1},
        {"an untextured opaque last layer",
         {Layer("a.tga", 1, {Key(0, 1, 1, 0, 0, 5, 5, kWhite)}), Layer("white.tga", 0, {last_key})},
         true, false, GL_ONE, GL_ONE, false, 1},
        {"a last layer without keys is skipped",
         {Layer("a.tga", 3, {last_key}), Layer("b.tga", 4, {})},
         true, true, GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA, true, 0},
        {"no layers", {}, false, true, GL_ONE, GL_ONE, true, -1},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      const ife_interface record = Load("state.ife", Interface(c.layers));
      // A caller's state that the call must change.
      for (GLenum cap : {GL_LIGHTING, GL_DEPTH_TEST, GL_ALPHA_TEST, GL_CULL_FACE, GL_BLEND, GL_TEXTURE_2D})
        rgl::glEnable(cap);
      rgl::glBlendFunc(GL_ONE, GL_ONE);
      GLuint before = 0;
      rgl::glGenTextures(1, &before);
      rgl::glBindTexture(GL_TEXTURE_2D, before);
      rgl::glColor4f(0.5f, 0.5f, 0.5f, 0.5f);
      for (GLenum mode : {GL_TEXTURE, GL_MODELVIEW, GL_PROJECTION}) {
        rgl::glMatrixMode(mode);
        Proc<void (*)(const GLdouble *)>("glLoadMatrixd")(junk.data());
      }

      IfeDraw(&record, 0);

      for (GLenum cap : {GL_LIGHTING, GL_DEPTH_TEST, GL_ALPHA_TEST, GL_CULL_FACE}) EXPECT_FALSE(IsEnabled(cap)) << cap;
      EXPECT_EQ(Integer(GL_MATRIX_MODE), GL_MODELVIEW);
      EXPECT_EQ(IsEnabled(GL_BLEND), c.blend);
      EXPECT_EQ(Integer(GL_BLEND_SRC), c.source);
      EXPECT_EQ(Integer(GL_BLEND_DST), c.destination);
      EXPECT_EQ(IsEnabled(GL_TEXTURE_2D), c.textured);
      const GLint bound = c.bound_layer < 0 ? static_cast<GLint>(before) : record.layers[c.bound_layer].texture;
      EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), bound);
      if (c.draws) {
        const std::vector<float> colour = Floats(GL_CURRENT_COLOR, 4);
        EXPECT_NEAR(colour[0], 10 / 255.0, 1e-6);
        EXPECT_NEAR(colour[1], 20 / 255.0, 1e-6);
        EXPECT_NEAR(colour[2], 30 / 255.0, 1e-6);
        EXPECT_NEAR(colour[3], 40 / 255.0, 1e-6);
        ExpectMatrix(GL_TEXTURE_MATRIX, kIdentity);
        ExpectMatrix(GL_MODELVIEW_MATRIX, kIdentity);
        ExpectMatrix(GL_PROJECTION_MATRIX, projection);
      } else {
        EXPECT_EQ(Floats(GL_CURRENT_COLOR, 4), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));
        ExpectMatrix(GL_TEXTURE_MATRIX, junk);
        ExpectMatrix(GL_PROJECTION_MATRIX, junk);
      }
    }
  });
}

}  // namespace
