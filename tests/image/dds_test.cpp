// Block-compressed images: DDS files from ImageMagick, DDZ files from our
// writer and by hand, the DXT decoders on hand-made blocks.
#include <algorithm>
#include <cstdlib>
#include <random>
#include <regex>

#include "base/zblock.h"
#include "support.h"

namespace {

using namespace imagetest;

using Dds = ImageTest;

int MaxDiff(const Bytes &a, const Bytes &b) {
  if (a.size() != b.size()) return 1 << 20;
  int d = 0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
  return d;
}

// A DDS with all its levels made by ImageMagick from the test pattern; DXT3
// and DXT5 get an alpha gradient (without alpha ImageMagick writes DXT1).
void MakeDds(const char *name, const char *compression, int side = 256) {
  WritePnm("src.ppm", side, side, Pattern(side, side));
  const std::string alpha = std::string(compression) == "dxt1" ? "" : " -alpha set -channel A -fx '(i+j)/(w+h)' +channel";
  int levels = 0;
  for (int s = side; s > 1; s /= 2) ++levels;
  ASSERT_TRUE(Convert("src.ppm" + alpha + " -define dds:compression=" + compression +
                      " -define dds:mipmaps=" + std::to_string(levels) + " " + name))
      << ReadText("convert.err");
}

std::vector<unsigned> Sizes(const txBitmap *b) { return std::vector<unsigned>(b->imageSize, b->imageSize + b->levels); }

TEST_F(Dds, Dxt1KeptGivesTheBlocksOfEveryLevel) {
  MakeDds("a.dds", "dxt1");
  const Bytes file = ReadFile("a.dds");
  ASSERT_EQ(file[28], 9);
  txOptions(TX_DXT1, 1);
  Owned b(txLoad("a.dds"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->fileType, TX_FILE_DDS);
  EXPECT_EQ(b->order, TX_ORDER_DXT);
  EXPECT_EQ(b->format, TX_DXT1);
  EXPECT_EQ(b->bpp, 24);
  EXPECT_EQ(b->width, 256);
  EXPECT_EQ(b->height, 256);
  EXPECT_EQ(b->fourcc, 0x31545844);  // "DXT1"
  EXPECT_EQ(Sizes(b.b), (std::vector<unsigned>{32768, 8192, 2048, 512, 128, 32, 8, 8, 8}));
  size_t at = 128;
  for (int i = 0; i < b->levels; ++i) {
    EXPECT_EQ(Level(b.b, i), Bytes(file.begin() + at, file.begin() + at + b->imageSize[i])) << "level " << i;
    at += b->imageSize[i];
  }
  EXPECT_EQ(at, file.size());
}

TEST_F(Dds, Dxt1DecodedMatchesImageMagicksOwnDecoding) {
  MakeDds("a.dds", "dxt1");
  txOptions(TX_OPT_ORDER, 1);
  Owned b(txLoad("a.dds"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->order, TX_ORDER_RGB);
  EXPECT_EQ(b->format, TX_FORMAT_RGB);
  EXPECT_EQ(b->bpp, 24);
  EXPECT_EQ(Sizes(b.b), (std::vector<unsigned>{196608, 49152, 12288, 3072, 768, 192, 64, 64, 64}));
  ASSERT_TRUE(Convert("a.dds -depth 8 rgb:ref.raw"));
  // ImageMagick widens 5:6:5 colours by repeating their top bits; ours leaves the low bits zero.
  EXPECT_LE(MaxDiff(Level(b.b), ReadFile("ref.raw")), 10);
}

// A 256x256 DXT3 file with 9 levels of arbitrary blocks (ImageMagick writes
// DXT5 when asked for DXT3, but reads DXT3).
void MakeDxt3(const char *name) {
  std::mt19937 rng(3);
  Bytes f = DdsHeader(256, 256, 9, "DXT3");
  for (int side = 256; side >= 1; side /= 2) {
    const int blocks = std::max(1, side / 4) * std::max(1, side / 4);
    for (int i = 0; i < blocks * 16; ++i) f.push_back(static_cast<uint8_t>(rng()));
  }
  WriteFile(name, f);
}

TEST_F(Dds, Dxt3AndDxt5KeptAndDecoded) {
  for (const char *kind : {"dxt3", "dxt5"}) {
    SCOPED_TRACE(kind);
    const int number = kind[3] == '3' ? TX_DXT3 : TX_DXT5;
    if (number == TX_DXT3)
      MakeDxt3("a.dds");
    else
      MakeDds("a.dds", kind);
    txOptions(number, 1);
    Owned kept(txLoad("a.dds"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->format, number);
    EXPECT_EQ(kept->bpp, 32);
    EXPECT_EQ(Sizes(kept.b), (std::vector<unsigned>{65536, 16384, 4096, 1024, 256, 64, 16, 16, 16}));
    txOptions(number, 0);
    txOptions(TX_OPT_ORDER, 1);
    Owned decoded(txLoad("a.dds"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, TX_FORMAT_RGBA);
    EXPECT_EQ(decoded->bpp, 32);
    EXPECT_EQ(decoded->imageSize[0], 262144u);
    EXPECT_EQ(decoded->imageSize[8], 64u);
    ASSERT_TRUE(Convert("a.dds -depth 8 rgba:ref.raw"));
    EXPECT_LE(MaxDiff(Level(decoded.b), ReadFile("ref.raw")), 10);
  }
}

TEST_F(Dds, QualitySkipsLevelsInsteadOfShrinking) {
  MakeDds("a.dds", "dxt1");
  struct Case {
    int quality, size, levels;
    unsigned first;
  } const cases[] = {{1, 128, 8, 8192}, {2, 64, 7, 2048}, {3, 256, 9, 32768}, {0, 256, 9, 32768}};
  txOptions(TX_DXT1, 1);
  for (const auto &c : cases) {
    SCOPED_TRACE("quality " + std::to_string(c.quality));
    txOptions(TX_OPT_QUALITY, c.quality);
    Owned b(txLoad("a.dds"));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->width, c.size);
    EXPECT_EQ(b->height, c.size);
    EXPECT_EQ(b->levels, c.levels);
    EXPECT_EQ(b->imageSize[0], c.first);
  }
  txOptions(TX_DXT1, 0);
  txOptions(TX_OPT_QUALITY, 1);
  Owned decoded(txLoad("a.dds"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 128) << "the level was skipped, not shrunk";
  EXPECT_EQ(decoded->levels, 8);
  EXPECT_EQ(decoded->imageSize[0], 128u * 128 * 3);
}

TEST_F(Dds, UnknownCodeIsKeptAsSixteenByteBlocks) {
  Bytes f = DdsHeader(8, 8, 0, "ATI2");
  for (int i = 0; i < 64; ++i) f.push_back(static_cast<uint8_t>(i));
  WriteFile("u.dds", f);
  Owned b(txLoad("u.dds"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->order, TX_ORDER_DXT);
  EXPECT_EQ(b->format, 0);
  EXPECT_EQ(b->bpp, 32);
  EXPECT_EQ(b->levels, 1);
  EXPECT_EQ(b->imageSize[0], 64u);
}

// --- the decoders on hand-made blocks ----------------------------------------------

struct Px {
  int r, g, b, a;
};

Bytes Block(uint16_t c0, uint16_t c1, uint32_t indices) {
  Bytes b;
  Put16(b, c0);
  Put16(b, c1);
  Put32(b, indices);
  return b;
}

// Indices 0, 1, 2, 3 across every row.
constexpr uint32_t kColumns = 0xE4E4E4E4;

void ExpectRow(const Bytes &out, int depth, int row, const std::vector<Px> &want) {
  const int d = depth / 8;
  for (size_t x = 0; x < want.size(); ++x) {
    const uint8_t *p = &out[(row * 4 + x) * d];
    EXPECT_EQ(p[0], want[x].r) << "pixel " << x << " row " << row;
    EXPECT_EQ(p[1], want[x].g) << "pixel " << x << " row " << row;
    EXPECT_EQ(p[2], want[x].b) << "pixel " << x << " row " << row;
    if (d == 4) {
      EXPECT_EQ(p[3], want[x].a) << "pixel " << x << " row " << row;
    }
  }
}

TEST_F(Dds, Dxt1Colours) {
  struct Case {
    const char *label;
    uint16_t c0, c1;
    int depth;
    std::vector<Px> row;
  } const cases[] = {
      {"four_colours", 0xF800, 0x001F, 32, {{248, 0, 0, 255}, {0, 0, 248, 255}, {165, 0, 83, 255}, {83, 0, 165, 255}}},
      {"equal_colours_black_transparent", 0x07E0, 0x07E0, 32,
       {{0, 252, 0, 255}, {0, 252, 0, 255}, {0, 252, 0, 255}, {0, 0, 0, 0}}},
      {"equal_colours_at_24_bits", 0x07E0, 0x07E0, 24, {{0, 252, 0, 0}, {0, 252, 0, 0}, {0, 252, 0, 0}, {0, 0, 0, 0}}},
      {"three_colours", 0x001F, 0xF800, 32, {{0, 0, 248, 255}, {248, 0, 0, 255}, {124, 0, 124, 255}, {0, 0, 0, 0}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes block = Block(c.c0, c.c1, kColumns);
    Bytes out(4 * 4 * c.depth / 8, 0x55);
    dxt1Decompress(block.data(), out.data(), 4, 4, c.depth);
    for (int row = 0; row < 4; ++row) ExpectRow(out, c.depth, row, c.row);
  }
}

TEST_F(Dds, DecodersWriteOnlyInsideTheLevel) {
  // A 5x3 level: two blocks across, one down; the destination is exactly 5x3.
  const Bytes two = [] {
    Bytes b = Block(0xFFFF, 0x0000, 0);
    Bytes c = Block(0xFFFF, 0x0000, 0x55555555);
    b.insert(b.end(), c.begin(), c.end());
    return b;
  }();
  Bytes out(5 * 3 * 4, 0);
  dxt1Decompress(two.data(), out.data(), 5, 3, 32);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(out[(y * 5 + x) * 4], 248) << x << "," << y;
    EXPECT_EQ(out[(y * 5 + 4) * 4], 0) << "the fifth column comes from the second block, colour 1";
  }
}

TEST_F(Dds, Dxt3ExplicitAlpha) {
  Bytes block;
  for (int row = 0; row < 4; ++row) Put16(block, 0x3210 + 0x1111 * row);
  const Bytes colour = Block(0x001F, 0xF800, kColumns);  // four colours even though c0 < c1
  block.insert(block.end(), colour.begin(), colour.end());
  Bytes out(64, 0);
  dxt3Decompress(block.data(), out.data(), 4, 4, 32);
  for (int row = 0; row < 4; ++row) {
    std::vector<Px> want{{0, 0, 248, 0}, {248, 0, 0, 0}, {83, 0, 165, 0}, {165, 0, 83, 0}};
    for (int x = 0; x < 4; ++x) want[x].a = (x + row) * 17;
    ExpectRow(out, 32, row, want);
  }
}

TEST_F(Dds, Dxt5InterpolatedAlpha) {
  struct Case {
    uint8_t a0, a1;
    std::vector<int> table;
  } const cases[] = {
      {255, 0, {255, 0, 219, 182, 146, 109, 73, 36}},
      {0, 255, {0, 255, 51, 102, 153, 204, 0, 255}},
      {200, 100, {200, 100, 186, 171, 157, 143, 129, 114}},
  };
  for (const auto &c : cases) {
    Bytes block{c.a0, c.a1};
    uint64_t bits = 0;
    for (int n = 0; n < 16; ++n) bits |= uint64_t(n % 8) << (3 * n);
    for (int i = 0; i < 6; ++i) block.push_back(uint8_t(bits >> (8 * i)));
    const Bytes colour = Block(0xFFFF, 0xFFFF, 0);
    block.insert(block.end(), colour.begin(), colour.end());
    Bytes out(64, 0);
    dxt5Decompress(block.data(), out.data(), 4, 4, 32);
    for (int n = 0; n < 16; ++n) EXPECT_EQ(out[4 * n + 3], c.table[n % 8]) << int(c.a0) << "/" << int(c.a1) << " " << n;
    EXPECT_EQ(out[0], 248);
  }
}

// --- DDZ -------------------------------------------------------------------------

TEST_F(Dds, DdzRoundTripGivesTheSameLevels) {
  MakeDds("a.dds", "dxt1");
  txOptions(TX_DXT1, 1);
  txOptions(TX_OPT_DEBUG, 1);
  Owned dds(txLoad("a.dds"));
  ASSERT_TRUE(dds);
  ASSERT_EQ(txSave(TX_FILE_DDZ, "a.ddz", dds.b), 0);
  const Bytes file = ReadFile("a.ddz");
  ASSERT_GE(file.size(), 14u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "FTX ");
  EXPECT_EQ(file[4] | file[5] << 8, 256);
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "DXT1");
  EXPECT_EQ(file[12], 9);
  const std::string log = NewLog();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[ddz\]\[ddz\.cpp:\d+:ddzWrite\(\)\]   - level 0 : (\d+ -> \d+ \(\d+\.\d\d%\)|not compressed)\n)")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(   - compressed : \d+\.\d\d%\n)")));

  Owned ddz(txLoad("a.ddz"));
  ASSERT_TRUE(ddz);
  EXPECT_EQ(ddz->fileType, TX_FILE_DDZ);
  EXPECT_EQ(ddz->order, TX_ORDER_DXT);
  EXPECT_EQ(ddz->format, TX_DXT1);
  EXPECT_EQ(ddz->fourcc, 0);
  ASSERT_EQ(ddz->levels, dds->levels);
  for (int i = 0; i < dds->levels; ++i) EXPECT_EQ(Level(ddz.b, i), Level(dds.b, i)) << "level " << i;

  // Decoded, both files give the same pixels.
  txOptions(TX_DXT1, 0);
  Owned a(txLoad("a.dds")), z(txLoad("a.ddz"));
  ASSERT_TRUE(a);
  ASSERT_TRUE(z);
  ASSERT_EQ(z->levels, a->levels);
  for (int i = 0; i < a->levels; ++i) EXPECT_EQ(Level(z.b, i), Level(a.b, i)) << "level " << i;

  // With the DDZ switch off a DDZ file is decoded even where blocks could be kept.
  txOptions(TX_DXT1, 1);
  txOptions(TX_OPT_DDZ, 0);
  Owned off(txLoad("a.ddz"));
  ASSERT_TRUE(off);
  EXPECT_EQ(off->order, TX_ORDER_RGB);
  EXPECT_EQ(Level(off.b), Level(a.b));
}

TEST_F(Dds, IncompressibleLevelIsStoredRaw) {
  std::mt19937 rng(7);
  Bytes f = DdsHeader(64, 64, 1, "DXT1");
  for (int i = 0; i < 2048; ++i) f.push_back(static_cast<uint8_t>(rng()));
  WriteFile("noise.dds", f);
  txOptions(TX_DXT1, 1);
  Owned b(txLoad("noise.dds"));
  ASSERT_TRUE(b);
  ASSERT_EQ(txSave(TX_FILE_DDZ, "noise.ddz", b.b), 0);
  const Bytes z = ReadFile("noise.ddz");
  ASSERT_EQ(z.size(), 14u + 4 + 2048);
  EXPECT_EQ(int32_t(z[14] | z[15] << 8 | z[16] << 16 | uint32_t(z[17]) << 24), -2048);
  Owned back(txLoad("noise.ddz"));
  ASSERT_TRUE(back);
  EXPECT_EQ(Level(back.b), Level(b.b));
}

// A hand-made DDZ whose levels are all stored: it loads without uncompressing,
// under either magic.
TEST_F(Dds, StoredLevelsNeedNoUncompression) {
  Bytes levels[4];
  const int sides[4] = {8, 4, 2, 1};
  for (int i = 0; i < 4; ++i) {
    const int blocks = std::max(1, sides[i] / 4) * std::max(1, sides[i] / 4);
    for (int k = 0; k < blocks; ++k) {
      const Bytes b = Block(static_cast<uint16_t>(0xF800 >> i), 0, kColumns);
      levels[i].insert(levels[i].end(), b.begin(), b.end());
    }
  }
  for (const char *magic : {"DDZ ", "FTX "}) {
    SCOPED_TRACE(magic);
    Bytes f(magic, magic + 4);
    Put16(f, 8);
    Put16(f, 8);
    f.insert(f.end(), {'D', 'X', 'T', '1'});
    Put16(f, 4);
    for (const Bytes &l : levels) {
      Put32(f, static_cast<uint32_t>(-static_cast<int32_t>(l.size())));
      f.insert(f.end(), l.begin(), l.end());
    }
    WriteFile("raw.ddz", f);
    txOptions(TX_DXT1, 1);
    Owned kept(txLoad("raw.ddz"));
    ASSERT_TRUE(kept) << errGetLastError();
    ASSERT_EQ(kept->levels, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Level(kept.b, i), levels[i]);
    txOptions(TX_DXT1, 0);
    txOptions(TX_OPT_ORDER, 1);
    Owned decoded(txLoad("raw.ddz"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->imageSize[0], 8u * 8 * 3);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(decoded->image[i][0], ((0xF800 >> i) >> 11) << 3) << "level " << i;
  }
}

TEST_F(Dds, DdzWriterTakesOnlyKeptDdsImages) {
  MakeDds("a.dds", "dxt1");
  Owned decoded(txLoad("a.dds"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(txSave(TX_FILE_DDZ, "x.ddz", decoded.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  Owned tga(txCreateDummy(0, 4, 4));
  EXPECT_EQ(txSave(TX_FILE_DDZ, "x.ddz", tga.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  txOptions(TX_DXT1, 1);
  Owned kept(txLoad("a.dds"));
  ASSERT_TRUE(kept);
  EXPECT_EQ(txSave(TX_FILE_DDZ, "no/such/dir/x.ddz", kept.b), -1);
  EXPECT_EQ(errGetLastError(), 2);
}

// The -disable-dxt1 switch, read by txInit, makes the DXT1 keep switch
// ineffective for the rest of the run; the other formats are not affected.
TEST_F(Dds, DisabledFormatIsAlwaysDecoded) {
  MakeDds("a1.dds", "dxt1");
  MakeDds("a5.dds", "dxt5");
  InChild([] {
    SYS_CfgAdd("-disable-dxt1");
    txInit(nullptr);
    EXPECT_EQ(txOptions(TX_DXT1, 1), 0);
    EXPECT_EQ(txOptions(TX_DXT5, 1), 0);
    Owned one(txLoad("a1.dds")), five(txLoad("a5.dds"));
    ASSERT_TRUE(one);
    ASSERT_TRUE(five);
    EXPECT_EQ(one->order, TX_ORDER_RGB);
    EXPECT_EQ(five->order, TX_ORDER_DXT);
  });
}

}  // namespace
