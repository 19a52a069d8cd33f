// Channel and depth conversions, intensity images and the box-filter shrink.
#include <cmath>
#include <regex>

#include "support.h"

namespace {

using namespace imagetest;

using Conversions = ImageTest;

// A one-level image holding these bytes.
txBitmap *Make(int type, int width, int height, const Bytes &pixels) {
  txBitmap *b = txCreateDummy(type, width, height);
  std::memcpy(b->image[0], pixels.data(), std::min<size_t>(pixels.size(), b->imageSize[0]));
  return b;
}

TEST_F(Conversions, SwapRedAndBlueInEveryLevel) {
  Owned b(Make(0, 2, 1, {1, 2, 3, 4, 5, 6}));
  b->levels = 2;
  b->image[1] = static_cast<unsigned char *>(SYS_MemGet(3, "test level"));
  b->imageSize[1] = 3;
  b->image[1][0] = 7, b->image[1][2] = 9;
  EXPECT_EQ(txSwapRB(b.b), 0);
  EXPECT_EQ(Level(b.b), (Bytes{3, 2, 1, 6, 5, 4}));
  EXPECT_EQ(Level(b.b, 1), (Bytes{9, 0, 7}));
  EXPECT_EQ(b->order, 0) << "the order field is left alone";

  Owned rgba(Make(2, 1, 1, {1, 2, 3, 4}));
  EXPECT_EQ(txSwapRB(rgba.b), 0);
  EXPECT_EQ(Level(rgba.b), (Bytes{3, 2, 1, 4}));

  Owned grey(Make(3, 2, 1, {1, 2}));
  EXPECT_EQ(txSwapRB(grey.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  EXPECT_EQ(Level(grey.b), (Bytes{1, 2}));
}

TEST_F(Conversions, DepthChanges) {
  Owned a(Make(2, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(tx32to24(a.b), 0);
  EXPECT_EQ(a->bpp, 24);
  EXPECT_EQ(a->format, TX_FORMAT_RGB);
  EXPECT_EQ(Level(a.b), (Bytes{1, 2, 3, 5, 6, 7}));
  EXPECT_EQ(tx32to24(a.b), 0) << "a 24-bit image is left as it is";
  EXPECT_EQ(Level(a.b), (Bytes{1, 2, 3, 5, 6, 7}));

  Owned b(Make(1, 2, 1, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(tx24to32(b.b), 0);
  EXPECT_EQ(b->bpp, 32);
  EXPECT_EQ(b->format, 1) << "the format is left alone";
  EXPECT_EQ(Level(b.b), (Bytes{1, 2, 3, 255, 4, 5, 6, 255}));

  Owned c(Make(0, 2, 1, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(tx24to8(c.b, 1), 0);
  EXPECT_EQ(c->bpp, 8);
  EXPECT_EQ(c->format, TX_FORMAT_GREY);
  EXPECT_EQ(Level(c.b), (Bytes{2, 5}));

  Owned d(Make(2, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(tx24to8(d.b, 2), 0) << "a 32-bit image gives one byte of each of its pixels";
  EXPECT_EQ(Level(d.b), (Bytes{3, 7}));

  Owned e(Make(3, 2, 1, {9, 8}));
  EXPECT_EQ(tx8to24(e.b), 0);
  EXPECT_EQ(e->bpp, 24);
  EXPECT_EQ(e->format, TX_FORMAT_RGB);
  EXPECT_EQ(Level(e.b), (Bytes{9, 9, 9, 8, 8, 8}));

  EXPECT_EQ(tx8to24(e.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH);
  Owned f(Make(3, 2, 1, {9, 8}));
  EXPECT_EQ(tx24to8(f.b, 0), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH);
  EXPECT_EQ(tx24to8(nullptr, 0), -1);
  Owned g(Make(0, 1, 1, {1, 2, 3}));
  EXPECT_EQ(tx24to8(g.b, 3), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

TEST_F(Conversions, Intensity) {
  const Bytes pixels{255, 0, 0, 10, 20, 30, 0, 255, 0};
  for (int type : {0, 2}) {
    Bytes in;
    for (size_t i = 0; i < pixels.size(); i += 3) {
      in.insert(in.end(), pixels.begin() + i, pixels.begin() + i + 3);
      if (type == 2) in.push_back(99);
    }
    Owned b(Make(type, 3, 1, in));
    Owned weighted(txIntensity(b.b, 1)), plain(txIntensity(b.b, 0));
    ASSERT_TRUE(weighted);
    ASSERT_TRUE(plain);
    EXPECT_EQ(weighted->bpp, 8);
    EXPECT_EQ(weighted->width, 3);
    EXPECT_EQ(Level(weighted.b), (Bytes{76, 18, 149}));
    EXPECT_EQ(Level(plain.b), (Bytes{85, 20, 85}));
  }
  EXPECT_EQ(txIntensity(nullptr, 0), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  Owned grey(Make(3, 1, 1, {1}));
  EXPECT_EQ(txIntensity(grey.b, 0), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH);
}

TEST_F(Conversions, InvertAndExpandPalette) {
  Owned b(Make(3, 3, 1, {0, 1, 255}));
  EXPECT_EQ(txInvert(b.b), 0);
  EXPECT_EQ(Level(b.b), (Bytes{255, 254, 0}));

  Bytes palette(1024, 0);
  palette[4 * 2] = 10, palette[4 * 2 + 1] = 11, palette[4 * 2 + 2] = 12, palette[4 * 2 + 3] = 13;
  palette[4 * 255] = 1;
  const Bytes indices{2, 255, 0};
  Bytes out(9, 0xEE);
  txExpandPalette(indices.data(), out.data(), 3, palette.data());
  EXPECT_EQ(out, (Bytes{10, 11, 12, 1, 0, 0, 0, 0, 0}));
}

// --- shrink ----------------------------------------------------------------------

// The shrink as described: source (x, y) goes to (x / fx, y / fy) truncated,
// with the factors and their inverses in single precision; every channel is
// its sum times the inverse count.
Bytes ReferenceShrink(const Bytes &src, int w, int h, int c, int nw, int nh) {
  const float fx = float(w) / float(nw), fy = float(h) / float(nh);
  const float ix = 1.0f / fx, iy = 1.0f / fy;
  std::vector<uint64_t> sum(size_t(nw) * nh * c, 0), count(size_t(nw) * nh, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int t = int(float(y) * iy) * nw + int(float(x) * ix);
      for (int k = 0; k < c; ++k) sum[size_t(t) * c + k] += src[(size_t(y) * w + x) * c + k];
      ++count[t];
    }
  Bytes out(size_t(nw) * nh * c);
  for (size_t t = 0; t < count.size(); ++t)
    for (int k = 0; k < c; ++k)
      out[t * c + k] = uint8_t(std::clamp(float(sum[t * c + k]) * (1.0f / float(count[t])), 0.0f, 255.0f));
  return out;
}

struct ShrinkCase {
  int type, width, height, newWidth, newHeight;
};

const ShrinkCase kShrinkCases[] = {
    {3, 4, 4, 2, 2},   {3, 3, 1, 2, 1},     {0, 5, 5, 2, 2},   {2, 7, 3, 3, 2},
    {0, 100, 100, 100, 100}, {0, 2048, 16, 1024, 16}, {2, 33, 17, 1, 1}, {3, 10, 7, 10, 3},
};

TEST_F(Conversions, ScaleShrinksWithABoxFilter) {
  for (const auto &c : kShrinkCases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " -> " + std::to_string(c.newWidth) +
                 "x" + std::to_string(c.newHeight));
    Owned b(txCreateDummy(c.type, c.width, c.height));
    const int ch = b->bpp / 8;
    for (unsigned i = 0; i < b->imageSize[0]; ++i) b->image[0][i] = uint8_t((i * 7919u) >> 3);
    const Bytes before = Level(b.b);
    ASSERT_EQ(txScale(b.b, c.newWidth, c.newHeight), 0);
    EXPECT_EQ(b->width, c.newWidth);
    EXPECT_EQ(b->height, c.newHeight);
    EXPECT_EQ(b->imageSize[0], unsigned(c.newWidth * c.newHeight * ch));
    EXPECT_EQ(Level(b.b), ReferenceShrink(before, c.width, c.height, ch, c.newWidth, c.newHeight));
    if (c.newWidth == c.width && c.newHeight == c.height) {
      EXPECT_EQ(Level(b.b), before);
    }
  }
  // A hand-made case: 2x2 blocks of a 4x4 grey image.
  Owned g(Make(3, 4, 2, {0, 10, 20, 30, 40, 50, 60, 71}));
  ASSERT_EQ(txScale(g.b, 2, 1), 0);
  EXPECT_EQ(Level(g.b), (Bytes{25, 45}));
}

// Two-byte pixels (16-bit grey PNG) average both bytes and stay in their buffer.
TEST_F(Conversions, ScaleTwoBytePixels) {
  Owned b(Make(3, 8, 1, {10, 20, 30, 40, 50, 60, 70, 80}));
  b->bpp = 16, b->width = 4, b->format = TX_FORMAT_NONE;
  ASSERT_EQ(txScale(b.b, 2, 1), 0);
  EXPECT_EQ(Level(b.b), (Bytes{20, 30, 60, 70}));
}

TEST_F(Conversions, ScaleLeavesWhatItCannotDo) {
  Owned b(txCreateDummy(0, 100, 100));
  b->image[0][5] = 42;
  const Bytes before = Level(b.b);
  struct Case {
    int w, h;
    const char *line;
  } const cases[] = {{50, 200, "!!! Scale ... please implement me."}, {200, 200, "!!! Magnify ... please implement me."}};
  for (const auto &c : cases) {
    EXPECT_EQ(txScale(b.b, c.w, c.h), 0);
    EXPECT_EQ(b->width, 100);
    EXPECT_EQ(Level(b.b), before);
    const std::string log = NewLog();
    EXPECT_TRUE(std::regex_search(log, std::regex("\\[TL\\]\\[convert\\.cpp:\\d+:txScale\\(\\)\\] !!! --- scale to " +
                                                  std::to_string(c.w) + "x" + std::to_string(c.h) + "\n")))
        << log;
    EXPECT_NE(log.find(std::string("txScale()] ") + c.line + "\n"), std::string::npos) << log;
  }
  EXPECT_EQ(txScale(b.b, 0, 10), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  b->order = TX_ORDER_DXT;
  EXPECT_EQ(txScale(b.b, 10, 10), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH);
  EXPECT_EQ(Level(b.b), before);
}

}  // namespace
