// The raster filters (TGA, BMP, PNM, DICOM, PNG, JPEG) against files made by
// ImageMagick and by hand, and the writers against ImageMagick reading back.
#include <algorithm>
#include <cstdlib>
#include <functional>

#include "support.h"

namespace {

using namespace imagetest;

constexpr int kW = 7, kH = 5;  // odd width: BMP rows carry padding

// Largest difference between two byte runs of the same length.
int MaxDiff(const Bytes &a, const Bytes &b) {
  if (a.size() != b.size()) return 1 << 20;
  int d = 0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
  return d;
}

// --- files made by ImageMagick -------------------------------------------------

struct RasterCase {
  const char *label;
  bool grey;         // source is the grey pattern
  const char *out;   // convert's output argument (with options)
  const char *file;
  int fileType, bpp, format;
  int tolerance;     // 0 for lossless formats
};

const RasterCase kRasterCases[] = {
    // ImageMagick keeps the origin bit apart from the row order it writes;
    // with TopLeft both say "top row first".
    {"tga", false, "-orient TopLeft a.tga", "a.tga", TX_FILE_TGA, 24, TX_FORMAT_RGB, 0},
    {"tga_grey", true, "-orient TopLeft a.tga", "a.tga", TX_FILE_TGA, 8, TX_FORMAT_GREY, 0},
    {"bmp3_padded_rows", false, "BMP3:a.bmp", "a.bmp", TX_FILE_BMP, 24, TX_FORMAT_RGB, 0},
    {"bmp_v5_header", false, "a.bmp", "a.bmp", TX_FILE_BMP, 24, TX_FORMAT_RGB, 0},
    {"png_rgb", false, "PNG24:a.png", "a.png", TX_FILE_PNG, 24, TX_FORMAT_RGB, 0},
    {"png_grey", true, "a.png", "a.png", TX_FILE_PNG, 8, TX_FORMAT_GREY, 0},
    {"ppm", false, "a.ppm", "a.ppm", TX_FILE_PNM, 24, TX_FORMAT_RGB, 0},
    {"pgm", true, "a.pgm", "a.pgm", TX_FILE_PNM, 8, TX_FORMAT_GREY, 0},
    {"jpeg", false, "-quality 100 -sampling-factor 1x1 a.jpg", "a.jpg", TX_FILE_JPEG, 24, TX_FORMAT_RGB, 12},
    {"jpeg_grey", true, "-quality 100 a.jpg", "a.jpg", TX_FILE_JPEG, 8, TX_FORMAT_GREY, 6},
};

void PrintTo(const RasterCase &c, std::ostream *os) { *os << c.label; }

class RasterFromImageMagick : public ImageTest, public ::testing::WithParamInterface<RasterCase> {};

TEST_P(RasterFromImageMagick, LoadsThePictureInEitherChannelOrder) {
  const RasterCase &c = GetParam();
  const Bytes pixels = c.grey ? GreyPattern(kW, kH) : Pattern(kW, kH);
  WritePnm(c.grey ? "src.pgm" : "src.ppm", kW, kH, pixels, c.grey);
  ASSERT_TRUE(Convert(std::string(c.grey ? "src.pgm " : "src.ppm ") + c.out)) << ReadText("convert.err");

  for (int order : {0, 1}) {
    SCOPED_TRACE("wanted order " + std::to_string(order));
    txOptions(TX_OPT_ORDER, order);
    Owned b(txLoad(c.file));
    ASSERT_TRUE(b) << "error " << errGetLastError();
    EXPECT_EQ(errGetLastError(), 0);
    EXPECT_EQ(b->fileType, c.fileType);
    EXPECT_EQ(b->width, kW);
    EXPECT_EQ(b->height, kH);
    EXPECT_EQ(b->bpp, c.bpp);
    EXPECT_EQ(b->format, c.format);
    EXPECT_EQ(b->levels, 1);
    EXPECT_EQ(b->imageSize[0], unsigned(kW * kH * c.bpp / 8));
    const Bytes expected = c.grey || order == 1 ? pixels : SwapRB(pixels, 3);
    EXPECT_LE(MaxDiff(Level(b.b), expected), c.tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RasterFromImageMagick, ::testing::ValuesIn(kRasterCases),
                         [](const auto &info) { return std::string(info.param.label); });

// --- TGA -------------------------------------------------------------------------

using Tga = ImageTest;

// The same picture stored bottom row first (by hand), top row first by
// ImageMagick, and top row first by our own writer.
TEST_F(Tga, BottomUpAndTopDownLoadIdentically) {
  const Bytes bgr = SwapRB(Pattern(kW, kH), 3);
  Bytes up = TgaHeader(2, 0, 0, kW, kH, 24, 0);
  for (int r = kH - 1; r >= 0; --r) up.insert(up.end(), bgr.begin() + r * kW * 3, bgr.begin() + (r + 1) * kW * 3);
  WriteFile("up.tga", up);
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm -orient TopLeft im.tga"));
  ASSERT_EQ(ReadFile("im.tga")[17] & 0x20, 0x20);

  Owned bottomUp(txLoad("up.tga")), magick(txLoad("im.tga"));
  ASSERT_TRUE(bottomUp);
  ASSERT_TRUE(magick);
  ASSERT_EQ(txSave(TX_FILE_TGA, "down.tga", bottomUp.b), 0);
  const Bytes downFile = ReadFile("down.tga");
  ASSERT_GE(downFile.size(), 18u);
  EXPECT_EQ(downFile[17], 0x20) << "our writer stores the top row first";
  Owned topDown(txLoad("down.tga"));
  ASSERT_TRUE(topDown);
  for (const txBitmap *b : {magick.b, topDown.b}) {
    EXPECT_EQ(b->width, bottomUp->width);
    EXPECT_EQ(b->height, bottomUp->height);
    EXPECT_EQ(b->bpp, bottomUp->bpp);
    EXPECT_EQ(b->format, bottomUp->format);
    EXPECT_EQ(b->order, bottomUp->order);
    EXPECT_EQ(Level(b), Level(bottomUp.b));
  }
  EXPECT_EQ(Level(bottomUp.b), bgr);
}

// A colour-mapped file with a 256-entry map of 24 or 32 bits: the pixels come
// out as three bytes, red first, and no palette is kept.
TEST_F(Tga, ColourMappedExpandsToRedFirstPixels) {
  for (int mapBits : {24, 32}) {
    SCOPED_TRACE("map entries of " + std::to_string(mapBits) + " bits");
    Bytes f = TgaHeader(1, 256, mapBits, 4, 2, 8, 0x20);
    for (int i = 0; i < 256; ++i) {  // stored blue, green, red (, alpha)
      f.push_back(static_cast<uint8_t>(i));
      f.push_back(static_cast<uint8_t>(255 - i));
      f.push_back(static_cast<uint8_t>(i * 3));
      if (mapBits == 32) f.push_back(0x80);
    }
    const Bytes indices{0, 1, 2, 3, 200, 201, 254, 255};
    f.insert(f.end(), indices.begin(), indices.end());
    WriteFile("map.tga", f);

    Owned raw(tgaRead(f.data(), int(f.size())));
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->bpp, 24);
    EXPECT_EQ(raw->format, TX_FORMAT_RGB);
    EXPECT_EQ(raw->palette, nullptr);
    EXPECT_EQ(raw->imageSize[0], 24u);
    Bytes rgb;
    for (uint8_t i : indices) {
      rgb.push_back(static_cast<uint8_t>(i * 3));
      rgb.push_back(static_cast<uint8_t>(255 - i));
      rgb.push_back(i);
    }
    EXPECT_EQ(Level(raw.b), rgb) << "colour values in red-green-blue order";

    // Through the loader the picture follows the wanted order like any other.
    txOptions(TX_OPT_ORDER, 0);
    Owned bgr(txLoad("map.tga"));
    ASSERT_TRUE(bgr);
    EXPECT_EQ(Level(bgr.b), SwapRB(rgb, 3));
    txOptions(TX_OPT_ORDER, 1);
    Owned red(txLoad("map.tga"));
    ASSERT_TRUE(red);
    EXPECT_EQ(Level(red.b), rgb);
  }
}

TEST_F(Tga, RunLengthEncodedIsNotRecognised) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm -compress RLE rle.tga"));
  ASSERT_EQ(ReadFile("rle.tga")[2], 10);
  EXPECT_EQ(txLoad("rle.tga"), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
}

// --- BMP -------------------------------------------------------------------------

using Bmp = ImageTest;

TEST_F(Bmp, TopDownRowsNeedNoFlip) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm BMP3:up.bmp"));
  Bytes f = ReadFile("up.bmp");
  const size_t stride = (kW * 3 + 3) & ~3, start = 54;
  ASSERT_EQ(f.size(), start + stride * kH);
  Bytes flipped(f.begin(), f.begin() + start);
  for (int r = kH - 1; r >= 0; --r)
    flipped.insert(flipped.end(), f.begin() + start + stride * r, f.begin() + start + stride * (r + 1));
  const uint32_t negative = static_cast<uint32_t>(-kH);
  for (int i = 0; i < 4; ++i) flipped[22 + i] = static_cast<uint8_t>(negative >> (8 * i));
  WriteFile("down.bmp", flipped);

  Owned up(txLoad("up.bmp")), down(txLoad("down.bmp"));
  ASSERT_TRUE(up);
  ASSERT_TRUE(down);
  EXPECT_EQ(down->height, kH);
  EXPECT_EQ(Level(down.b), Level(up.b));
  EXPECT_EQ(Level(up.b), SwapRB(Pattern(kW, kH), 3));
}

TEST_F(Bmp, PaletteImageKeepsIndicesAndPalette) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm -type Palette -compress none BMP3:pal.bmp"));
  Owned b(txLoad("pal.bmp"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->bpp, 8);
  EXPECT_EQ(b->format, TX_FORMAT_INDEX);
  ASSERT_NE(b->palette, nullptr);
  const int entries = SYS_MemSize(b->palette) / 4;
  ASSERT_GE(entries, kW * kH);
  // Each index names a blue, green, red, 0 entry holding the pixel's colour.
  const Bytes rgb = Pattern(kW, kH);
  for (int i = 0; i < kW * kH; ++i) {
    const int k = b->image[0][i];
    ASSERT_LT(k, entries);
    EXPECT_EQ(b->palette[4 * k + 2], rgb[3 * i]) << "pixel " << i;
    EXPECT_EQ(b->palette[4 * k + 1], rgb[3 * i + 1]) << "pixel " << i;
    EXPECT_EQ(b->palette[4 * k], rgb[3 * i + 2]) << "pixel " << i;
  }
}

// A 16 x 16 picture of 256 colours: its palette file has 256 entries and
// indices up to 255.
Bytes ManyColours() {
  Bytes rgb;
  for (int i = 0; i < 256; ++i) {
    const int x = i % 16, y = i / 16;
    rgb.push_back(static_cast<uint8_t>(x * 16 + y));
    rgb.push_back(static_cast<uint8_t>(y * 16 + x));
    rgb.push_back(static_cast<uint8_t>(x * y * 3 + 7));
  }
  return rgb;
}

void SetLe32(Bytes &f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct DamagedPalette {
  const char *label;
  std::function<void(Bytes &)> damage;  // applied to the 256-colour file
  bool refused;         // 1002 rather than a record
  size_t fromFile;      // palette bytes taken from the file; the rest is zero
  bool picture;         // the entries still give the picture's colours
};

// Whatever its header says, an indexed record has a palette of 256 entries
// (so every index finds one) or the file is refused.
TEST_F(Bmp, IndexedRecordAlwaysHasAFullPalette) {
  constexpr size_t kPaletteAt = 54, kPixelsAt = 54 + 1024;
  const DamagedPalette cases[] = {
      {"intact", [](Bytes &) {}, false, 1024, true},
      // A header claiming 250 bytes moves the palette's start past its first entries.
      {"header_size_250", [](Bytes &f) { SetLe32(f, 14, 250); }, false, kPixelsAt - 14 - 250, false},
      // 256 colours used, indices up to 255, but only 128 entries in the file.
      {"half_the_entries",
       [](Bytes &f) {
         f.erase(f.begin() + kPaletteAt + 512, f.begin() + kPixelsAt);
         SetLe32(f, 10, kPixelsAt - 512);
       },
       false, 512, false},
      {"colours_used_above_256", [](Bytes &f) { SetLe32(f, 46, 1000); }, false, 1024, true},
      // Pixels at the end of the file, found through the image size field.
      {"pixel_offset_past_end", [](Bytes &f) { SetLe32(f, 10, 0xFFFFFF00u); }, false, 1024, true},
      {"pixel_offset_past_end_no_size",
       [](Bytes &f) {
         SetLe32(f, 10, 0xFFFFFF00u);
         SetLe32(f, 34, 0xFFFFFFFFu);
       },
       true, 0, false},
      {"pixel_offset_at_header_end", [](Bytes &f) { SetLe32(f, 10, 54); }, true, 0, false},
  };
  const Bytes rgb = ManyColours();
  WritePnm("src.ppm", 16, 16, rgb);
  ASSERT_TRUE(Convert("src.ppm -type Palette -compress none BMP3:pal.bmp"));
  const Bytes made = ReadFile("pal.bmp");
  ASSERT_EQ(made.size(), kPixelsAt + 256) << "256 entries, then the pixels";
  const Bytes filePalette(made.begin() + kPaletteAt, made.begin() + kPixelsAt);

  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    Bytes f = made;
    c.damage(f);
    WriteFile("damaged.bmp", f);
    Owned b(txLoad("damaged.bmp"));
    if (c.refused) {
      EXPECT_FALSE(b);
      EXPECT_EQ(errGetLastError(), TX_ERR_SHORT);
      continue;
    }
    ASSERT_TRUE(b) << "error " << errGetLastError();
    EXPECT_EQ(b->format, TX_FORMAT_INDEX);
    ASSERT_NE(b->palette, nullptr);
    ASSERT_EQ(SYS_MemSize(b->palette), 1024);
    const Bytes palette(b->palette, b->palette + 1024);
    EXPECT_EQ(std::count(palette.begin() + c.fromFile, palette.end(), 0), 1024 - static_cast<long>(c.fromFile))
        << "zero beyond what the file holds";
    if (c.fromFile == 512) {
      EXPECT_TRUE(std::equal(filePalette.begin(), filePalette.begin() + 512, palette.begin()));
    }
    if (!c.picture) continue;
    for (int i = 0; i < 256; ++i) {
      const uint8_t *e = &b->palette[4 * b->image[0][i]];
      EXPECT_EQ(Bytes(e, e + 3), Bytes({rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i]})) << "pixel " << i;
    }
  }
}

TEST_F(Bmp, RunLengthEncodingIsRefused) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm -type Palette -compress RLE BMP3:rle.bmp"));
  ASSERT_EQ(ReadFile("rle.bmp")[30], 1);
  EXPECT_EQ(txLoad("rle.bmp"), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH);
}

TEST_F(Bmp, DepthsBelowEightAndSixteenAreRefused) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm BMP3:a.bmp"));
  for (int bits : {1, 4, 16}) {
    Bytes f = ReadFile("a.bmp");
    f[28] = static_cast<uint8_t>(bits);
    WriteFile("bits.bmp", f);
    EXPECT_EQ(txLoad("bits.bmp"), nullptr) << bits;
    EXPECT_EQ(errGetLastError(), TX_ERR_DEPTH) << bits;
  }
}

// --- PNM -------------------------------------------------------------------------

using Pnm = ImageTest;

TEST_F(Pnm, P6WithCommentIsStoredBlueFirst) {
  const std::string head = "P6\n# made by hand\n2 2\n255\n";
  Bytes f(head.begin(), head.end());
  const Bytes rgb{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  f.insert(f.end(), rgb.begin(), rgb.end());
  WriteFile("c.ppm", f);
  Owned b(txLoad("c.ppm"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->width, 2);
  EXPECT_EQ(b->height, 2);
  EXPECT_EQ(b->bpp, 24);
  EXPECT_EQ(b->order, TX_ORDER_BGR);
  EXPECT_EQ(Level(b.b), SwapRB(rgb, 3));
}

struct RefusedPnm {
  const char *label;
  const char *convert;  // ImageMagick arguments after the grey source, or null
  const char *text;     // or the file's bytes
};

const RefusedPnm kRefusedPnm[] = {
    {"ascii_p3", "src.pgm -type TrueColor -compress none r.ppm", nullptr},
    {"ascii_p2", "src.pgm -compress none PGM:r.ppm", nullptr},
    {"p5_max_65535", "src.pgm -depth 16 PGM:r.ppm", nullptr},
    {"p5_max_1", nullptr, "P5\n2 2\n1\n\n"},
    {"no_line_feed", nullptr, "P6\n2 2 255"},
    {"bad_size_line", nullptr, "P6\nwide high\n255\n012345678901"},
    {"negative_size", nullptr, "P6\n-2 2\n255\n012345678901"},
};

TEST_F(Pnm, UnsupportedVariantsFailWithCode1000) {
  WritePnm("src.pgm", kW, kH, GreyPattern(kW, kH), true);
  for (const auto &c : kRefusedPnm) {
    SCOPED_TRACE(c.label);
    std::remove("r.ppm");
    if (c.convert)
      ASSERT_TRUE(Convert(c.convert));
    else
      WriteText("r.ppm", c.text);
    EXPECT_EQ(txLoad("r.ppm"), nullptr);
    EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  }
}

// --- PNG -------------------------------------------------------------------------

using Png = ImageTest;

TEST_F(Png, SixteenBitGreyKeepsItsSamples) {
  WritePnm("src.pgm", kW, kH, GreyPattern(kW, kH), true);
  ASSERT_TRUE(Convert("src.pgm -depth 16 -define png:color-type=0 -define png:bit-depth=16 g16.png"));
  Owned b(txLoad("g16.png"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->bpp, 16);
  EXPECT_EQ(b->format, TX_FORMAT_NONE);
  ASSERT_EQ(b->imageSize[0], unsigned(kW * kH * 2));
  const Bytes g = GreyPattern(kW, kH);
  for (int i = 0; i < kW * kH; ++i) {  // v * 257, most significant byte first
    EXPECT_EQ(b->image[0][2 * i], g[i]);
    EXPECT_EQ(b->image[0][2 * i + 1], g[i]);
  }
}

TEST_F(Png, PaletteImageKeepsIndicesAndPalette) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm PNG8:pal.png"));
  Owned b(txLoad("pal.png"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->bpp, 8);
  EXPECT_EQ(b->format, TX_FORMAT_INDEX);
  ASSERT_NE(b->palette, nullptr);
  const Bytes rgb = Pattern(kW, kH);
  for (int i = 0; i < kW * kH; ++i) {
    const int k = b->image[0][i];
    EXPECT_EQ(b->palette[4 * k], rgb[3 * i]);
    EXPECT_EQ(b->palette[4 * k + 1], rgb[3 * i + 1]);
    EXPECT_EQ(b->palette[4 * k + 2], rgb[3 * i + 2]);
    EXPECT_EQ(b->palette[4 * k + 3], 255) << "no tRNS chunk: every entry opaque";
  }
}

// Whether a PNG file holds the chunk of this four-letter type.
bool HasChunk(const Bytes &png, const char *type) {
  for (size_t at = 8; at + 8 <= png.size();) {
    const uint32_t length = uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 | uint32_t{png[at + 2]} << 8 |
                            png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0) return true;
    at += 12 + size_t{length};
  }
  return false;
}

// Red, green, blue, alpha of a w x h picture with transparent, half
// transparent and opaque pixels.
Bytes TranslucentPattern(int width, int height) {
  const Bytes rgb = Pattern(width, height);
  Bytes rgba;
  for (int i = 0; i < width * height; ++i) {
    rgba.insert(rgba.end(), rgb.begin() + 3 * i, rgb.begin() + 3 * i + 3);
    rgba.push_back(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
  }
  return rgba;
}

TEST_F(Png, PaletteCarriesTheTransparencyChunk) {
  WriteFile("src.rgba", TranslucentPattern(kW, kH));
  ASSERT_TRUE(Convert("-size " + std::to_string(kW) + "x" + std::to_string(kH) +
                      " -depth 8 rgba:src.rgba -type PaletteAlpha alpha.png"))
      << ReadText("convert.err");
  const Bytes file = ReadFile("alpha.png");
  ASSERT_EQ(file[25], 3) << "a palette file";
  ASSERT_TRUE(HasChunk(file, "tRNS"));

  Owned b(txLoad("alpha.png"));
  ASSERT_TRUE(b) << "error " << errGetLastError();
  EXPECT_EQ(b->bpp, 8);
  EXPECT_EQ(b->format, TX_FORMAT_INDEX);
  ASSERT_NE(b->palette, nullptr);
  ASSERT_EQ(SYS_MemSize(b->palette), 1024);
  const Bytes rgba = TranslucentPattern(kW, kH);
  for (int i = 0; i < kW * kH; ++i) {
    const uint8_t *e = &b->palette[4 * b->image[0][i]];
    const uint8_t *want = &rgba[4 * i];
    EXPECT_EQ(e[3], want[3]) << "alpha of pixel " << i;
    // ImageMagick's rounding through alpha moves half transparent colours by one.
    if (want[3] != 0) {
      EXPECT_LE(MaxDiff(Bytes(e, e + 3), Bytes(want, want + 3)), want[3] == 255 ? 0 : 1) << "colour of pixel " << i;
    }
  }
}

// Two 16-bit channels take 32 bits, as RGBA does; they are no RGBA, and
// neither wanted order moves a byte.
TEST_F(Png, SixteenBitGreyWithAlphaHasNoFormat) {
  std::string head = "P7\nWIDTH " + std::to_string(kW) + "\nHEIGHT " + std::to_string(kH) +
                     "\nDEPTH 2\nMAXVAL 65535\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n";
  Bytes samples;  // grey, alpha; most significant byte first, as PNG stores them
  for (int i = 0; i < kW * kH; ++i)
    for (unsigned v : {(i * 4099u + 0x1234u) & 0xFFFFu, (i * 2741u + 0x8001u) & 0xFFFFu}) {
      samples.push_back(static_cast<uint8_t>(v >> 8));
      samples.push_back(static_cast<uint8_t>(v));
    }
  Bytes pam(head.begin(), head.end());
  pam.insert(pam.end(), samples.begin(), samples.end());
  WriteFile("src.pam", pam);
  ASSERT_TRUE(Convert("src.pam -define png:color-type=4 -define png:bit-depth=16 ga16.png")) << ReadText("convert.err");
  const Bytes file = ReadFile("ga16.png");
  ASSERT_EQ(file[24], 16);
  ASSERT_EQ(file[25], 4) << "grey with alpha";

  for (int order : {0, 1}) {
    SCOPED_TRACE("wanted order " + std::to_string(order));
    txOptions(TX_OPT_ORDER, order);
    Owned b(txLoad("ga16.png"));
    ASSERT_TRUE(b) << "error " << errGetLastError();
    EXPECT_EQ(b->bpp, 32);
    EXPECT_EQ(b->format, TX_FORMAT_NONE);
    EXPECT_EQ(b->order, TX_ORDER_RGB);
    EXPECT_EQ(Level(b.b), samples);
  }
}

// Grey depths under 8 bits come one pixel to a byte, scaled to 0..255, so the
// level holds width * height bytes as its depth says.
TEST_F(Png, GreyBelowEightBitsIsUnpacked) {
  for (int depth : {1, 2, 4}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    const int levels = 1 << depth, step = 255 / (levels - 1);
    Bytes g(kW * kH);
    for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<uint8_t>((i % levels) * step);
    WritePnm("src.pgm", kW, kH, g, true);
    ASSERT_TRUE(Convert("src.pgm -define png:color-type=0 -define png:bit-depth=" + std::to_string(depth) +
                        " low.png"));
    ASSERT_EQ(ReadFile("low.png")[24], depth) << "the file holds the depth asked for";
    Owned b(txLoad("low.png"));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->bpp, 8);
    EXPECT_EQ(b->format, TX_FORMAT_GREY);
    EXPECT_EQ(Level(b.b), g);
  }
}

// --- JPEG ------------------------------------------------------------------------

using Jpeg = ImageTest;

// A 32-bit image saved as JPEG becomes two files; loading the colour file
// finds the other as its alpha map.
TEST_F(Jpeg, AlphaIsWrittenAsASecondGreyFile) {
  constexpr int w = 16, h = 8;
  Owned b(txCreateDummy(2, w, h));
  ASSERT_TRUE(b);
  b->order = TX_ORDER_RGB;
  const Bytes rgb = SmoothPattern(w, h);
  for (int i = 0; i < w * h; ++i) {
    std::memcpy(b->image[0] + 4 * i, &rgb[3 * i], 3);
    b->image[0][4 * i + 3] = static_cast<uint8_t>(i * 2);
  }
  const Bytes before = Level(b.b);
  txOptions(TX_OPT_JPEG_QUALITY, 100);
  ASSERT_EQ(txSave(TX_FILE_JPEG, "pic.jpg", b.b), 0);
  EXPECT_EQ(Level(b.b), before) << "the record is unchanged";

  const Bytes alphaFile = ReadFile("pic_a.jpg");
  Owned alpha(jpegRead(alphaFile.data(), int(alphaFile.size())));
  ASSERT_TRUE(alpha);
  EXPECT_EQ(alpha->bpp, 8);
  EXPECT_EQ(alpha->format, TX_FORMAT_GREY);

  txOptions(TX_OPT_ORDER, 1);
  Owned back(txLoad("pic.jpg"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->bpp, 32);
  EXPECT_EQ(back->format, TX_FORMAT_RGBA);
  Bytes colour, alphaBytes, wantAlpha;
  for (int i = 0; i < w * h; ++i) {
    colour.insert(colour.end(), back->image[0] + 4 * i, back->image[0] + 4 * i + 3);
    alphaBytes.push_back(back->image[0][4 * i + 3]);
    wantAlpha.push_back(static_cast<uint8_t>(i * 2));
  }
  EXPECT_LE(MaxDiff(colour, rgb), 16);
  EXPECT_LE(MaxDiff(alphaBytes, wantAlpha), 4);
}

TEST_F(Jpeg, ExifInsteadOfJfifIsNotRecognised) {
  WritePnm("src.ppm", kW, kH, Pattern(kW, kH));
  ASSERT_TRUE(Convert("src.ppm a.jpg"));
  Bytes f = ReadFile("a.jpg");
  ASSERT_EQ(std::string(f.begin() + 6, f.begin() + 10), "JFIF");
  f[3] = 0xE1;
  std::memcpy(f.data() + 6, "Exif", 4);
  WriteFile("exif.jpg", f);
  EXPECT_EQ(txLoad("exif.jpg"), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
}

// --- DICOM -----------------------------------------------------------------------

using DicomFile = ImageTest;

TEST_F(DicomFile, GreyAndColourPixelData) {
  struct Case {
    int samples, bpp, format;
  } const cases[] = {{1, 8, TX_FORMAT_GREY}, {3, 24, TX_FORMAT_NONE}};
  for (const auto &c : cases) {
    SCOPED_TRACE("samples " + std::to_string(c.samples));
    Bytes pixels(3 * 2 * c.samples);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 19 + 1);
    WriteFile("a.dcm", Dicom(3, 2, c.samples, pixels));
    Owned b(txLoad("a.dcm"));
    ASSERT_TRUE(b) << errGetLastError();
    EXPECT_EQ(b->fileType, TX_FILE_DICOM);
    EXPECT_EQ(b->width, 3);
    EXPECT_EQ(b->height, 2);
    EXPECT_EQ(b->bpp, c.bpp);
    EXPECT_EQ(b->format, c.format);
    EXPECT_EQ(b->imageSize[0], pixels.size());
    EXPECT_EQ(Level(b.b), pixels);
  }
}

// --- writers ---------------------------------------------------------------------

struct WriterCase {
  const char *label;
  int id;
  int type;            // txCreateDummy type = format
  const char *file;
  const char *raw;     // ImageMagick's raw format for reading the file back
  int tolerance;       // for JPEG, whose test picture is a smooth one
};

const WriterCase kWriterCases[] = {
    {"tga_blue_first", TX_FILE_TGA, 0, "w.tga", "rgb", 0},
    {"tga_red_first", TX_FILE_TGA, 1, "w.tga", "rgb", 0},
    {"tga_rgba", TX_FILE_TGA, 2, "w.tga", "rgba", 0},
    {"tga_grey", TX_FILE_TGA, 3, "w.tga", "gray", 0},
    {"pnm_blue_first", TX_FILE_PNM, 0, "w.ppm", "rgb", 0},
    {"pnm_red_first", TX_FILE_PNM, 1, "w.ppm", "rgb", 0},
    {"pnm_grey", TX_FILE_PNM, 3, "w.pgm", "gray", 0},
    {"png_blue_first", TX_FILE_PNG, 0, "w.png", "rgb", 0},
    {"png_red_first", TX_FILE_PNG, 1, "w.png", "rgb", 0},
    {"png_rgba", TX_FILE_PNG, 2, "w.png", "rgba", 0},
    {"png_grey", TX_FILE_PNG, 3, "w.png", "gray", 0},
    {"jpeg_blue_first", TX_FILE_JPEG, 0, "w.jpg", "rgb", 12},
    {"jpeg_red_first", TX_FILE_JPEG, 1, "w.jpg", "rgb", 12},
    {"jpeg_grey", TX_FILE_JPEG, 3, "w.jpg", "gray", 6},
};

void PrintTo(const WriterCase &c, std::ostream *os) { *os << c.label; }

class Writers : public ImageTest, public ::testing::WithParamInterface<WriterCase> {};

// What ImageMagick reads from our file is the picture, red first; the record
// is unchanged by the write; our loader reads the same picture back.
TEST_P(Writers, ImageMagickReadsThePictureBack) {
  const WriterCase &c = GetParam();
  constexpr int w = 9, h = 6;
  txOptions(TX_OPT_JPEG_QUALITY, 100);
  Owned b(txCreateDummy(c.type, w, h));
  ASSERT_TRUE(b);
  b->order = TX_ORDER_BGR;
  const Bytes rgb = c.tolerance ? SmoothPattern(w, h) : Pattern(w, h);
  const Bytes grey = c.tolerance ? SmoothGrey(w, h) : GreyPattern(w, h);
  Bytes expected;  // red first, as ImageMagick gives it
  for (int i = 0; i < w * h; ++i) {
    const uint8_t *p = &rgb[3 * i];
    switch (c.type) {
      case 0: b->image[0][3 * i] = p[2], b->image[0][3 * i + 1] = p[1], b->image[0][3 * i + 2] = p[0]; break;
      case 1: std::memcpy(b->image[0] + 3 * i, p, 3); break;
      case 2:
        b->image[0][4 * i] = p[2], b->image[0][4 * i + 1] = p[1], b->image[0][4 * i + 2] = p[0];
        b->image[0][4 * i + 3] = grey[i];
        break;
      case 3: b->image[0][i] = grey[i]; break;
    }
    if (c.type == 3) {
      expected.push_back(grey[i]);
    } else {
      expected.insert(expected.end(), p, p + 3);
      if (c.type == 2) expected.push_back(grey[i]);
    }
  }
  const Bytes before = Level(b.b);
  ASSERT_EQ(txSave(c.id, c.file, b.b), 0) << errGetLastError();
  EXPECT_EQ(Level(b.b), before) << "the record is unchanged";
  ASSERT_TRUE(Convert(std::string(c.file) + " -depth 8 " + c.raw + ":back.raw")) << ReadText("convert.err");
  EXPECT_LE(MaxDiff(ReadFile("back.raw"), expected), c.tolerance);

  txOptions(TX_OPT_ORDER, 1);
  Owned back(txLoad(c.file));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, w);
  EXPECT_EQ(back->height, h);
  EXPECT_LE(MaxDiff(Level(back.b), expected), c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(Formats, Writers, ::testing::ValuesIn(kWriterCases),
                         [](const auto &info) { return std::string(info.param.label); });

struct RefusedWrite {
  const char *label;
  int id, type, order, format, bpp;  // order/format/bpp -2: as created
  const char *file;
  int code;
};

const RefusedWrite kRefusedWrites[] = {
    {"tga_order_2", TX_FILE_TGA, 0, 2, -2, -2, "x.tga", TX_ERR_CANTSTORE},
    {"tga_palette", TX_FILE_TGA, 3, -2, TX_FORMAT_INDEX, -2, "x.tga", TX_ERR_CANTSTORE},
    {"tga_depth_mismatch", TX_FILE_TGA, 2, -2, TX_FORMAT_RGB, -2, "x.tga", TX_ERR_CANTSTORE},
    {"pnm_rgba", TX_FILE_PNM, 2, -2, -2, -2, "x.ppm", TX_ERR_UNKNOWN},
    {"png_palette", TX_FILE_PNG, 3, -2, TX_FORMAT_INDEX, -2, "x.png", TX_ERR_CANTSTORE},
    {"png_order_3", TX_FILE_PNG, 0, 3, -2, -2, "x.png", TX_ERR_CANTSTORE},
    {"jpeg_order_2", TX_FILE_JPEG, 0, 2, -2, -2, "x.jpg", TX_ERR_CANTSTORE},
    {"jpeg_format_none", TX_FILE_JPEG, 0, -2, TX_FORMAT_NONE, -2, "x.jpg", TX_ERR_CANTSTORE},
    {"tga_unwritable", TX_FILE_TGA, 0, -2, -2, -2, "no/such/dir/x.tga", 2},
    {"pnm_unwritable", TX_FILE_PNM, 0, -2, -2, -2, "no/such/dir/x.ppm", SYS_ERR_CREATE},
    {"png_unwritable", TX_FILE_PNG, 0, -2, -2, -2, "no/such/dir/x.png", SYS_ERR_CREATE},
    {"jpeg_unwritable", TX_FILE_JPEG, 0, -2, -2, -2, "no/such/dir/x.jpg", SYS_ERR_CREATE},
    {"bmp_has_no_writer", TX_FILE_BMP, 0, -2, -2, -2, "x.bmp", TX_ERR_UNKNOWN},
    {"dicom_has_no_writer", TX_FILE_DICOM, 0, -2, -2, -2, "x.dcm", TX_ERR_UNKNOWN},
    {"unknown_id", 99, 0, -2, -2, -2, "x.img", TX_ERR_UNKNOWN},
};

TEST_F(ImageTest, WritersRefuseWhatTheyCannotStore) {
  for (const auto &c : kRefusedWrites) {
    SCOPED_TRACE(c.label);
    Owned b(txCreateDummy(c.type, 4, 4));
    ASSERT_TRUE(b);
    b->order = TX_ORDER_BGR;
    if (c.order != -2) b->order = c.order;
    if (c.format != -2) b->format = c.format;
    if (c.bpp != -2) b->bpp = c.bpp;
    EXPECT_EQ(txSave(c.id, c.file, b.b), -1);
    EXPECT_EQ(errGetLastError(), c.code);
    EXPECT_FALSE(std::filesystem::exists(c.file));
  }
}

}  // namespace
