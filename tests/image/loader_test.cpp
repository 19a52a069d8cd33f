// The loader: recognition, the file callbacks, the "_a" alpha map, channel
// order, flip, texture quality, its log lines, and the record's life cycle.
#include <map>
#include <regex>

#include "support.h"

namespace {

using namespace imagetest;

using Loader = ImageTest;

// --- recognition -----------------------------------------------------------------

struct IdentifyCase {
  const char *label;
  Bytes start;
  int id;  // -1: no filter
};

Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes DicomStart() {
  Bytes b(128, 0);
  for (char c : std::string("DICM")) b.push_back(static_cast<uint8_t>(c));
  return b;
}

const IdentifyCase kIdentifyCases[] = {
    {"bmp", Text("BM"), TX_FILE_BMP},
    {"png", {0x89, 'P', 'N', 'G'}, TX_FILE_PNG},
    {"tga_true_colour", {0, 0, 2, 0, 0, 0, 0, 0}, TX_FILE_TGA},
    {"tga_colour_mapped", {0, 1, 1, 0, 0, 0, 1, 24}, TX_FILE_TGA},
    {"tga_grey", {0, 0, 3, 0, 0, 0, 0, 0}, TX_FILE_TGA},
    {"tga_rle", {0, 0, 10, 0, 0, 0, 0, 0}, -1},
    {"tga_map_not_multiple_of_256", {0, 1, 1, 0, 0, 16, 0, 24}, -1},
    {"jpeg_jfif", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, TX_FILE_JPEG},
    {"jpeg_exif", {0xFF, 0xD8, 0xFF, 0xE1, 0, 16, 'E', 'x', 'i', 'f'}, -1},
    {"dds", Text("DDS "), TX_FILE_DDS},
    {"ddz", Text("DDZ "), TX_FILE_DDZ},
    {"ftx", Text("FTX "), TX_FILE_DDZ},
    {"ppm", Text("P6\n"), TX_FILE_PNM},
    {"pgm", Text("P5\n"), TX_FILE_PNM},
    {"ascii_ppm", Text("P3\n"), -1},
    {"pnm_crlf", Text("P6\r\n"), -1},
    {"dicom", DicomStart(), TX_FILE_DICOM},
    {"gif", Text("GIF89a"), -1},
};

TEST_F(Loader, IdentifyPicksTheFirstFilterThatKnowsTheBytes) {
  for (const auto &c : kIdentifyCases) {
    SCOPED_TRACE(c.label);
    Bytes buffer = c.start;
    buffer.resize(TX_IDENTIFY_BYTES, 0);
    const txFilter *f = txIdentify(buffer.data());
    if (c.id < 0) {
      EXPECT_EQ(f, nullptr);
      EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
    } else {
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->id, c.id);
      EXPECT_EQ(errGetLastError(), 0);
    }
  }
}

TEST_F(Loader, UnknownAndMissingFiles) {
  WriteText("anim.gif", "GIF89a\x01\x00\x01\x00\x00\x00\x00;");
  EXPECT_EQ(txLoad("anim.gif"), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
  EXPECT_EQ(txLoad("nothing-here.tga"), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);
  WriteText("empty.tga", "");
  EXPECT_EQ(txLoad("empty.tga"), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_UNKNOWN);
}

// --- replaceable file callbacks ----------------------------------------------------

struct MemoryFiles {
  std::map<std::string, Bytes> files;
  std::string open;
  std::vector<std::string> opened;
  int exists = 0;
} g_mem;

int MemOpen(const char *name) {
  g_mem.opened.push_back(name);
  auto it = g_mem.files.find(name);
  if (it == g_mem.files.end()) {
    errSetLastError(SYS_ERR_NOTFOUND);
    return -1;
  }
  g_mem.open = name;
  return 0;
}
void *MemRead() {
  const Bytes &b = g_mem.files[g_mem.open];
  void *p = SYS_MemGet(b.size(), "test read");
  std::memcpy(p, b.data(), b.size());
  return p;
}
int MemSize() { return static_cast<int>(g_mem.files[g_mem.open].size()); }
int MemClose() {
  g_mem.open.clear();
  return 0;
}
int MemExist(const char *) {
  ++g_mem.exists;
  return 0;
}

TEST_F(Loader, CustomCallbacksSupplyTheBytes) {
  txFunctions functions{MemOpen, MemRead, MemSize, MemClose, MemExist};
  g_mem = {};
  Bytes tga = TgaHeader(2, 0, 0, 2, 1, 24, 0x20);
  tga.insert(tga.end(), {1, 2, 3, 4, 5, 6});
  g_mem.files["mem.tga"] = tga;

  const long live = LiveTrackedBytes();
  txInit(&functions);
  txBitmap *b = txLoad("mem.tga");
  txInit(nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Level(b), (Bytes{1, 2, 3, 4, 5, 6}));
  txFree(&b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(g_mem.opened, (std::vector<std::string>{"mem.tga", "mem_a.tga"})) << "the alpha map is asked for too";
  EXPECT_EQ(g_mem.exists, 0) << "the loader never asks whether a file exists";
  EXPECT_EQ(LiveTrackedBytes(), live) << "the callbacks' buffer is released";
}

// --- alpha maps ------------------------------------------------------------------

// An uncompressed top-down TGA of the given depth.
void WriteTga(const std::string &name, int width, int height, int depth, const Bytes &pixels) {
  Bytes f = TgaHeader(depth == 8 ? 3 : 2, 0, 0, width, height, depth, 0x20);
  f.insert(f.end(), pixels.begin(), pixels.end());
  WriteFile(name, f);
}

struct AlphaCase {
  const char *label;
  const char *image;
  const char *alpha;
};

const AlphaCase kAlphaNames[] = {
    {"extension", "pic.tga", "pic_a.tga"},
    {"no_dot", "plain", "plain_a"},
    {"dot_in_directory_only", "dir.d/pic", "dir.d/pic_a"},
    {"two_dots", "pic.big.tga", "pic.big_a.tga"},
};

TEST_F(Loader, AlphaMapBecomesTheFourthChannel) {
  constexpr int w = 5, h = 3;
  for (const auto &c : kAlphaNames) {
    SCOPED_TRACE(c.label);
    WriteTga(c.image, w, h, 24, SwapRB(Pattern(w, h), 3));
    WriteTga(c.alpha, w, h, 8, GreyPattern(w, h));
    Owned b(txLoad(c.image));
    ASSERT_TRUE(b);
    EXPECT_EQ(errGetLastError(), 0);
    EXPECT_EQ(b->bpp, 32);
    EXPECT_EQ(b->format, TX_FORMAT_RGBA);
    ASSERT_EQ(b->imageSize[0], unsigned(w * h * 4));
    const Bytes rgb = SwapRB(Pattern(w, h), 3), grey = GreyPattern(w, h);
    for (int i = 0; i < w * h; ++i) {
      EXPECT_EQ(Bytes(b->image[0] + 4 * i, b->image[0] + 4 * i + 3), Bytes(&rgb[3 * i], &rgb[3 * i] + 3));
      EXPECT_EQ(b->image[0][4 * i + 3], grey[i]);
    }
  }
}

TEST_F(Loader, WithoutAlphaMapThePlainImageAndNoError) {
  WriteTga("solo.tga", 2, 2, 24, Pattern(2, 2));
  Owned b(txLoad("solo.tga"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->bpp, 24);
  EXPECT_EQ(errGetLastError(), 0);
}

// The alpha map is taken as stored: a 24-bit map gives its first stored byte
// (blue, for TGA) even though red first is wanted, and it is not flipped on
// its own; the merged picture is flipped as a whole.
TEST_F(Loader, AlphaMapIsReadAsStored) {
  constexpr int w = 4, h = 3;
  WriteTga("f.tga", w, h, 24, Pattern(w, h));
  const Bytes map = Pattern(w, h);  // stored as it stands: first byte of each pixel
  WriteTga("f_a.tga", w, h, 24, map);
  txOptions(TX_OPT_ORDER, 1);
  txOptions(TX_OPT_FLIP, 1);
  Owned b(txLoad("f.tga"));
  ASSERT_TRUE(b);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int from = (h - 1 - y) * w + x;
      EXPECT_EQ(b->image[0][4 * (y * w + x) + 3], map[3 * from]) << x << "," << y;
    }
}

TEST_F(Loader, ShortAlphaMapLeavesTheRestOpaque) {
  WriteTga("s.tga", 5, 3, 24, Pattern(5, 3));
  WriteTga("s_a.tga", 3, 2, 8, Bytes{1, 2, 3, 4, 5, 6});
  Owned b(txLoad("s.tga"));
  ASSERT_TRUE(b);
  ASSERT_EQ(b->bpp, 32);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(b->image[0][4 * i + 3], i < 6 ? i + 1 : 255) << i;
}

TEST_F(Loader, GreyImageWithAlphaMapBecomesRgba) {
  WriteTga("g.tga", 3, 1, 8, Bytes{10, 20, 30});
  WriteTga("g_a.tga", 3, 1, 8, Bytes{7, 8, 9});
  Owned b(txLoad("g.tga"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->bpp, 32);
  EXPECT_EQ(b->format, TX_FORMAT_RGBA);
  EXPECT_EQ(Level(b.b), (Bytes{10, 10, 10, 7, 20, 20, 20, 8, 30, 30, 30, 9}));
}

TEST_F(Loader, AddAlphaChannelByName) {
  WriteTga("base.tga", 2, 1, 24, Bytes{1, 2, 3, 4, 5, 6});
  WriteTga("mask.tga", 2, 1, 8, Bytes{100, 200});
  Owned b(txLoad("base.tga"));
  ASSERT_TRUE(b);
  ASSERT_EQ(b->bpp, 24);
  EXPECT_EQ(txAddAlphaChannel("mask.tga", b.b), 0);
  EXPECT_EQ(Level(b.b), (Bytes{1, 2, 3, 100, 4, 5, 6, 200}));
  EXPECT_EQ(b->format, TX_FORMAT_RGBA);
  EXPECT_EQ(txAddAlphaChannel("no-mask.tga", b.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_NOALPHA);
}

// --- flip and texture quality ------------------------------------------------------

TEST_F(Loader, FlipReversesTheRows) {
  WriteTga("rows.tga", 2, 3, 8, Bytes{1, 2, 3, 4, 5, 6});
  txOptions(TX_OPT_DEBUG, 1);
  txOptions(TX_OPT_FLIP, 1);
  Owned b(txLoad("rows.tga"));
  ASSERT_TRUE(b);
  EXPECT_EQ(Level(b.b), (Bytes{5, 6, 3, 4, 1, 2}));
  EXPECT_NE(NewLog().find("] Horizontal flipping.\n"), std::string::npos);
}

TEST_F(Loader, QualityShrinksSingleLevelImages) {
  struct Case {
    int quality, width, height, wantW, wantH;
  } const cases[] = {
      {1, 256, 256, 128, 128}, {2, 256, 256, 64, 64}, {5, 256, 256, 64, 64},
      {1, 7, 5, 3, 2},         {2, 2, 2, 1, 1},       {2, 1, 1, 1, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.quality) + ": " + std::to_string(c.width) + "x" + std::to_string(c.height));
    WriteTga("q.tga", c.width, c.height, 24, Bytes(size_t(c.width) * c.height * 3, 77));
    txOptions(TX_OPT_QUALITY, c.quality);
    Owned b(txLoad("q.tga"));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->width, c.wantW);
    EXPECT_EQ(b->height, c.wantH);
    EXPECT_EQ(b->imageSize[0], unsigned(c.wantW * c.wantH * 3));
    EXPECT_EQ(Level(b.b), Bytes(size_t(c.wantW) * c.wantH * 3, 77));
  }
}

// --- log lines -------------------------------------------------------------------

TEST_F(Loader, DebugLinesFollowTheSwitch) {
  WriteTga("dbg.tga", 7, 5, 24, Pattern(7, 5));
  Owned quiet(txLoad("dbg.tga"));
  ASSERT_TRUE(quiet);
  EXPECT_EQ(NewLog().find("Load bitmap"), std::string::npos);

  txOptions(TX_OPT_DEBUG, 1);
  Owned loud(txLoad("dbg.tga"));
  ASSERT_TRUE(loud);
  const std::string log = NewLog();
  const char *const lines[] = {
      "Load bitmap: dbg\\.tga",      "type: Targa \\(TGA\\)", "size: 7x5 bits: 24",
      "imagesize: 105",              "Load bitmap: dbg_a\\.tga", " ! unable to open texture \\(dbg_a\\.tga\\)\\.",
      "alpha map not found\\.",      "---",
  };
  for (const char *line : lines)
    EXPECT_TRUE(std::regex_search(log, std::regex(std::string(R"(\[TL\]\[tl\.cpp:\d+:txLoad\(\)\] )") + line + "\n")))
        << line << "\nin:\n" << log;
}

TEST_F(Loader, QualityAndSaveLines) {
  txOptions(TX_OPT_QUALITY, 1);
  EXPECT_TRUE(std::regex_search(NewLog(), std::regex(R"(\[TL\]\[tl\.cpp:\d+:txOptions\(\)\] Set texture quality: 1\n)")));
  txOptions(TX_OPT_QUALITY, 0);

  txOptions(TX_OPT_DEBUG, 1);
  Owned b(txCreateDummy(0, 2, 2));
  b->order = 3;
  EXPECT_EQ(txSave(TX_FILE_TGA, "x.tga", b.b), -1);
  EXPECT_EQ(errGetLastError(), TX_ERR_CANTSTORE);
  EXPECT_EQ(txSave(42, "x.tga", b.b), -1);
  const std::string log = NewLog();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[tl\.cpp:\d+:txSave\(\)\]  ! saving with brisk!quantoven's TGA filter\n)")));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[tga\]\[tga\.cpp:\d+:tgaWrite\(\)\] smp->type: 3\n)")));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[tga\]\[tga\.cpp:\d+:tgaWrite\(\)\] smp->subtype: 0\n)")));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[tl\.cpp:\d+:txSave\(\)\]  ! returned with error, code: 1005\n)")));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[TL\]\[tl\.cpp:\d+:txSave\(\)\]  ! unknown format\.\n)")));
}

// --- options and records -----------------------------------------------------------

TEST_F(Loader, Options) {
  EXPECT_EQ(txOptions(TX_OPT_ORDER, 1), 0);
  EXPECT_EQ(txOptions(TX_OPT_GET_ORDER, 0), 1);
  for (int unknown : {10, 13, -1, 33777}) {
    EXPECT_EQ(txOptions(unknown, 1), -1) << unknown;
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  }
}

TEST_F(Loader, CreateDummy) {
  struct Case {
    int type, bpp;
  } const cases[] = {{0, 24}, {1, 24}, {2, 32}, {3, 8}};
  for (const auto &c : cases) {
    Owned b(txCreateDummy(c.type, 3, 2));
    ASSERT_TRUE(b) << c.type;
    EXPECT_EQ(b->order, c.type);
    EXPECT_EQ(b->format, c.type);
    EXPECT_EQ(b->bpp, c.bpp);
    EXPECT_EQ(b->levels, 1);
    EXPECT_EQ(Level(b.b), Bytes(size_t(3 * 2 * c.bpp / 8), 0));
  }
  for (auto bad : {std::pair{4, 3}, std::pair{-1, 3}, std::pair{0, 0}, std::pair{0, -5}}) {
    EXPECT_EQ(txCreateDummy(bad.first, bad.second, 2), nullptr);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  }
}

TEST_F(Loader, DupIsADeepCopy) {
  EXPECT_EQ(txDup(nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), TX_ERR_NULL);

  const long live = LiveTrackedBytes();
  {
    Owned b(txCreateDummy(0, 4, 4));
    ASSERT_TRUE(b);
    b->image[0][0] = 9;
    b->levels = 2;  // a second level and a palette to copy as well
    b->image[1] = static_cast<unsigned char *>(SYS_MemGet(12, "test level"));
    b->imageSize[1] = 12;
    b->image[1][11] = 5;
    b->palette = static_cast<unsigned char *>(SYS_MemGet(1024, "test palette"));
    b->palette[1023] = 3;
    Owned copy(txDup(b.b));
    ASSERT_TRUE(copy);
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(copy->image[i], b->image[i]);
      EXPECT_EQ(Level(copy.b, i), Level(b.b, i));
    }
    EXPECT_NE(copy->palette, b->palette);
    EXPECT_EQ(copy->palette[1023], 3);
    copy->image[0][0] = 1;
    EXPECT_EQ(b->image[0][0], 9);
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
}

TEST_F(Loader, FreeRefusesNull) {
  EXPECT_EQ(txFree(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  txBitmap *none = nullptr;
  EXPECT_EQ(txFree(&none), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(txGetDepth(nullptr), 0);
  EXPECT_EQ(txGetImage(nullptr, 0), nullptr);
  EXPECT_EQ(txGetImageSize(nullptr, 0), 0u);
}

}  // namespace
