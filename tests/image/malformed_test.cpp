// Malformed files: every reader stays inside its buffer, fails with a clear
// code and leaves nothing allocated, whatever the bytes say.
#include <memory>
#include <random>

#include "base/zblock.h"
#include "support.h"

namespace {

using namespace imagetest;

using Malformed = ImageTest;
using Reader = txBitmap *(*)(const unsigned char *, int);

// Calls the reader on an exact-size copy, so that a read past the end is
// caught by the address sanitizer; returns the code (0 on success).
int ReadExact(Reader read, const Bytes &bytes, size_t length) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[length ? length : 1]);
  std::memcpy(copy.get(), bytes.data(), length);
  errClear();
  txBitmap *b = read(copy.get(), static_cast<int>(length));
  const int code = errGetLastError();
  if (!b) return code ? code : -1;
  // A record that comes back describes its pixels truthfully.
  if (b->order != TX_ORDER_DXT) {
    EXPECT_GE(b->bpp, 8);
    EXPECT_NE(b->image[0], nullptr);
    EXPECT_GE(uint64_t(b->imageSize[0]), uint64_t(b->width) * b->height * (b->bpp / 8));
  }
  EXPECT_GE(b->levels, 1);
  txFree(&b);
  return 0;
}

struct Sample {
  const char *label;
  Reader read;
  Bytes bytes;
};

// One small valid file of every kind the loader reads.
std::vector<Sample> Samples() {
  std::vector<Sample> all;
  WritePnm("src.ppm", 9, 7, Pattern(9, 7));
  EXPECT_TRUE(Convert("src.ppm s.tga"));
  all.push_back({"tga", tgaRead, ReadFile("s.tga")});
  Bytes mapped = TgaHeader(1, 256, 24, 3, 2, 8, 0);
  for (int i = 0; i < 256 * 3; ++i) mapped.push_back(static_cast<uint8_t>(i));
  for (int i = 0; i < 6; ++i) mapped.push_back(static_cast<uint8_t>(i * 40));
  all.push_back({"tga_mapped", tgaRead, mapped});
  EXPECT_TRUE(Convert("src.ppm BMP3:s.bmp"));
  all.push_back({"bmp", bmpRead, ReadFile("s.bmp")});
  EXPECT_TRUE(Convert("src.ppm -type Palette -compress none BMP3:p.bmp"));
  all.push_back({"bmp_palette", bmpRead, ReadFile("p.bmp")});
  all.push_back({"ppm", pnmRead, ReadFile("src.ppm")});
  EXPECT_TRUE(Convert("src.ppm PNG24:s.png"));
  all.push_back({"png", pngRead, ReadFile("s.png")});
  EXPECT_TRUE(Convert("src.ppm PNG8:p.png"));
  all.push_back({"png_palette", pngRead, ReadFile("p.png")});
  EXPECT_TRUE(Convert("src.ppm -interlace PNG PNG24:i.png"));
  all.push_back({"png_interlaced", pngRead, ReadFile("i.png")});
  EXPECT_TRUE(Convert("src.ppm -interlace none s.jpg"));
  all.push_back({"jpeg_baseline", jpegRead, ReadFile("s.jpg")});
  EXPECT_TRUE(Convert("src.ppm -interlace JPEG p.jpg"));
  all.push_back({"jpeg_progressive", jpegRead, ReadFile("p.jpg")});
  all.push_back({"dicom", dicomRead, Dicom(4, 3, 1, Bytes(12, 7))});
  WritePnm("src16.ppm", 16, 16, Pattern(16, 16));
  EXPECT_TRUE(Convert("src16.ppm -alpha set -channel A -fx '(i+j)/(w+h)' +channel -define dds:compression=dxt5 "
                      "-define dds:mipmaps=4 s.dds"));
  all.push_back({"dds", ddsRead, ReadFile("s.dds")});
  // A DDZ with compressed and stored levels, made by our writer from that DDS.
  txOptions(TX_DXT5, 1);
  txBitmap *dds = txLoad("s.dds");
  EXPECT_NE(dds, nullptr);
  if (dds) {
    EXPECT_EQ(txSave(TX_FILE_DDZ, "s.ddz", dds), 0);
    txFree(&dds);
  }
  all.push_back({"ddz", ddzRead, ReadFile("s.ddz")});
  return all;
}

const std::vector<int> kReaderCodes{TX_ERR_UNKNOWN, TX_ERR_SHORT, TX_ERR_DEPTH, SYS_ERR_NOMEM};

bool IsReaderCode(int code) { return std::find(kReaderCodes.begin(), kReaderCodes.end(), code) != kReaderCodes.end(); }

// Every prefix of every sample, in both decode and keep modes.
TEST_F(Malformed, TruncatedFilesFailCleanly) {
  const auto samples = Samples();
  const long live = LiveTrackedBytes();
  for (int keep : {0, 1}) {
    txOptions(TX_DXT5, keep);
    for (const auto &s : samples) {
      SCOPED_TRACE(std::string(s.label) + (keep ? " kept" : " decoded"));
      ASSERT_GT(s.bytes.size(), 20u);
      EXPECT_EQ(ReadExact(s.read, s.bytes, s.bytes.size()), 0) << "the whole file reads";
      for (size_t cut = 0; cut < s.bytes.size(); ++cut) {
        const int code = ReadExact(s.read, s.bytes, cut);
        if (code) {
          EXPECT_TRUE(IsReaderCode(code)) << "cut at " << cut << ": code " << code;
        }
      }
    }
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
}

// A few thousand files with bytes changed at random: no crash, no leak.
TEST_F(Malformed, CorruptedBytesFailCleanly) {
  const auto samples = Samples();
  const long live = LiveTrackedBytes();
  std::mt19937 rng(20240611);
  for (const auto &s : samples) {
    SCOPED_TRACE(s.label);
    ASSERT_GT(s.bytes.size(), 20u);
    for (int round = 0; round < 300; ++round) {
      Bytes b = s.bytes;
      const int changes = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < changes; ++k) {
        // Mostly the header, where the sizes live.
        const size_t span = rng() % 2 ? std::min<size_t>(b.size(), 160) : b.size();
        b[rng() % span] = static_cast<uint8_t>(rng());
      }
      const int code = ReadExact(s.read, b, b.size());
      if (code) {
        EXPECT_TRUE(IsReaderCode(code)) << "round " << round << ": code " << code;
      }
    }
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
}

// --- headers that lie ----------------------------------------------------------------

Bytes Cat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes DdzHeader(int w, int h, const char *fourcc, int levels) {
  Bytes f{'F', 'T', 'X', ' '};
  Put16(f, static_cast<unsigned>(w));
  Put16(f, static_cast<unsigned>(h));
  f.insert(f.end(), fourcc, fourcc + 4);
  Put16(f, static_cast<unsigned>(levels));
  return f;
}

// A compressed block of these bytes, its header fields optionally changed.
Bytes ZBlock(const Bytes &data, int64_t announce = -1, int64_t streamLength = -1) {
  void *block = nullptr;
  int length = 0;
  EXPECT_EQ(SYS_ZCompress(data.data(), int(data.size()), &block, &length), 0);
  Bytes b(static_cast<uint8_t *>(block), static_cast<uint8_t *>(block) + length);
  SYS_MemFree(block);
  auto at32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  if (announce >= 0) at32(0, uint32_t(announce));
  if (streamLength >= 0) at32(4, uint32_t(streamLength));
  return b;
}

Bytes WithLength(const Bytes &block) {
  Bytes l;
  Put32(l, static_cast<uint32_t>(block.size()));
  return Cat(l, block);
}

struct Lie {
  const char *label;
  const char *file;
  std::function<Bytes()> make;
  int code;
};

std::vector<Lie> Lies() {
  return {
      {"tga_larger_than_data", "l.tga", [] { return Cat(TgaHeader(2, 0, 0, 32767, 32767, 24, 0), Bytes(10)); },
       TX_ERR_SHORT},
      {"tga_negative_width", "l.tga", [] { return Cat(TgaHeader(2, 0, 0, 0xFFFF, 2, 24, 0), Bytes(100)); },
       TX_ERR_SHORT},
      {"tga_colour_map_past_end", "l.tga", [] { return Cat(TgaHeader(1, 256, 24, 2, 2, 8, 0), Bytes(100)); },
       TX_ERR_SHORT},
      {"tga_map_of_512_entries", "l.tga", [] { return Cat(TgaHeader(1, 512, 24, 2, 2, 8, 0), Bytes(100)); },
       TX_ERR_SHORT},
      {"tga_depth_15", "l.tga", [] { return Cat(TgaHeader(2, 0, 0, 2, 2, 15, 0), Bytes(100)); }, TX_ERR_SHORT},
      {"tga_header_only", "l.tga", [] { return Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0}; }, TX_ERR_SHORT},
      {"bmp_rows_past_end", "l.bmp",
       [] {
         Bytes f = ReadFile("s.bmp");
         f.resize(f.size() - 1);
         return f;
       },
       TX_ERR_SHORT},
      {"bmp_huge", "l.bmp",
       [] {
         Bytes f = ReadFile("s.bmp");
         for (int i = 0; i < 4; ++i) f[18 + i] = f[22 + i] = i == 2 ? 1 : 0;  // 65536 x 65536
         return f;
       },
       TX_ERR_SHORT},
      {"bmp_header_only", "l.bmp", [] { return Bytes{'B', 'M', 0, 0}; }, TX_ERR_SHORT},
      {"pnm_data_short", "l.ppm", [] { return Cat(Bytes{'P', '6', '\n', '9', ' ', '9', '\n', '2', '5', '5', '\n'}, Bytes(10)); },
       TX_ERR_SHORT},
      {"pnm_huge", "l.ppm",
       [] {
         std::string h = "P6\n40000 40000\n255\n";
         return Cat(Bytes(h.begin(), h.end()), Bytes(10));
       },
       TX_ERR_UNKNOWN},
      {"dicom_pixel_data_past_end", "l.dcm", [] { return Dicom(4, 4, 1, Bytes(16, 1), 1000); }, TX_ERR_SHORT},
      {"dicom_undefined_length", "l.dcm", [] { return Dicom(4, 4, 1, Bytes(16, 1), 0xFFFFFFFF); }, TX_ERR_SHORT},
      {"dicom_fewer_pixels_than_announced", "l.dcm", [] { return Dicom(10, 10, 1, Bytes(20, 1)); }, TX_ERR_SHORT},
      {"dicom_no_samples", "l.dcm", [] { return Dicom(4, 4, 0, Bytes(16, 1)); }, TX_ERR_SHORT},
      {"dicom_preamble_only", "l.dcm", [] { return Dicom(0, 0, 0, {}); }, TX_ERR_SHORT},
      {"dds_levels_past_end", "l.dds", [] { return Cat(DdsHeader(256, 256, 9, "DXT1"), Bytes(1000)); }, TX_ERR_SHORT},
      {"dds_huge", "l.dds", [] { return Cat(DdsHeader(1 << 20, 1 << 20, 1, "DXT1"), Bytes(1000)); }, TX_ERR_SHORT},
      {"dds_header_only", "l.dds", [] { return DdsHeader(4, 4, 1, "DXT1"); }, TX_ERR_SHORT},
      {"ddz_level_past_end", "l.ddz",
       [] {
         Bytes f = DdzHeader(8, 8, "DXT1", 1);
         Put32(f, 100000);
         return Cat(f, Bytes(40));
       },
       TX_ERR_SHORT},
      {"ddz_stored_level_of_wrong_size", "l.ddz",
       [] {
         Bytes f = DdzHeader(8, 8, "DXT1", 1);
         Put32(f, static_cast<uint32_t>(-16));
         return Cat(f, Bytes(16));
       },
       TX_ERR_SHORT},
      {"ddz_block_uncompresses_to_other_size", "l.ddz",
       [] { return Cat(DdzHeader(8, 8, "DXT1", 1), WithLength(ZBlock(Bytes(16, 3)))); }, TX_ERR_SHORT},
      {"ddz_block_announces_other_size", "l.ddz",
       [] { return Cat(DdzHeader(8, 8, "DXT1", 1), WithLength(ZBlock(Bytes(16, 3), 32))); }, SYS_ERR_NOMEM},
      {"ddz_block_stream_longer_than_block", "l.ddz",
       [] { return Cat(DdzHeader(8, 8, "DXT1", 1), WithLength(ZBlock(Bytes(32, 3), -1, 5000))); }, TX_ERR_SHORT},
      {"ddz_block_corrupt_stream", "l.ddz",
       [] {
         Bytes z = ZBlock(Bytes(32, 3));
         for (size_t i = 14; i < z.size(); ++i) z[i] ^= 0x5A;
         return Cat(DdzHeader(8, 8, "DXT1", 1), WithLength(z));
       },
       SYS_ERR_NOMEM},
      {"ddz_no_levels", "l.ddz", [] { return DdzHeader(8, 8, "DXT1", 0); }, TX_ERR_SHORT},
      {"ddz_negative_size", "l.ddz", [] { return Cat(DdzHeader(-8, 8, "DXT1", 1), Bytes(40)); }, TX_ERR_SHORT},
      {"ddz_header_only", "l.ddz", [] { return Bytes{'D', 'D', 'Z', ' ', 1, 0}; }, TX_ERR_SHORT},
      {"png_cut_in_half", "l.png",
       [] {
         Bytes f = ReadFile("s.png");
         f.resize(f.size() / 2);
         return f;
       },
       TX_ERR_SHORT},
      {"png_signature_only", "l.png", [] { return Bytes{0x89, 'P', 'N', 'G'}; }, TX_ERR_SHORT},
      {"jpeg_cut_in_half", "l.jpg",
       [] {
         Bytes f = ReadFile("s.jpg");
         f.resize(f.size() / 2);
         return f;
       },
       TX_ERR_SHORT},
      {"jpeg_huge_frame", "l.jpg",
       [] {
         Bytes f = ReadFile("s.jpg");
         for (size_t i = 2; i + 8 < f.size(); ++i)
           if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {  // frame header: height, width
             f[i + 5] = f[i + 7] = 0xEA;
             f[i + 6] = f[i + 8] = 0x60;
             break;
           }
         return f;
       },
       TX_ERR_SHORT},
  };
}

TEST_F(Malformed, HeadersThatLieFailWithTheirCode) {
  Samples();  // s.bmp, s.png, s.jpg ...
  const long live = LiveTrackedBytes();
  for (const auto &c : Lies()) {
    SCOPED_TRACE(c.label);
    WriteFile(c.file, c.make());
    EXPECT_EQ(txLoad(c.file), nullptr);
    EXPECT_EQ(errGetLastError(), c.code);
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
}

}  // namespace
