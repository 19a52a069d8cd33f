// Helpers of the image loader tests: the base library started once per test
// process with the log on, the loader's settings reset before every case,
// fixture files (a known pattern, ImageMagick conversions, byte builders for
// the formats ImageMagick cannot make), the log written since the case began,
// and the tracked allocator's live total.
#pragma once

#include "tests/support/live_memory.h"
#include "tests/support/child.h"
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"
#include "image/formats.h"
#include "image/image.h"

namespace imagetest {

using Bytes = std::vector<uint8_t>;

inline constexpr const char *kLog = "tl.log";

class BaseEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::vector<std::string> args{"image_test", "-v", "-debug-log", kLog};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    SYS_BaseInit(nullptr, static_cast<int>(argv.size()), argv.data(), nullptr);
    txInit(nullptr);
  }
  void TearDown() override { SYS_BaseDone(); }
};

inline ::testing::Environment *const g_environment = ::testing::AddGlobalTestEnvironment(new BaseEnvironment);

inline void WriteFile(const std::string &path, const Bytes &bytes) {
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::string &path, const std::string &text) { WriteFile(path, Bytes(text.begin(), text.end())); }

inline Bytes ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string &path) {
  Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

// Runs ImageMagick's convert with these arguments; false when it fails.
inline bool Convert(const std::string &args) {
  std::string command = "/usr/bin/convert " + args + " 2>convert.err";
  return std::system(command.c_str()) == 0;
}

// A width x height picture of three channels, red first, every pixel different
// from its neighbours.
inline Bytes Pattern(int width, int height) {
  Bytes rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(x * 37 + y * 11 + 5);
      p[1] = static_cast<uint8_t>(x * 13 + y * 53 + 100);
      p[2] = static_cast<uint8_t>(255 - x * 29 - y * 7);
    }
  return rgb;
}

// A picture without sharp edges, for the lossy format: red first.
inline Bytes SmoothPattern(int width, int height) {
  Bytes rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(40 + x * 8 + y * 4);
      p[1] = static_cast<uint8_t>(200 - x * 6);
      p[2] = static_cast<uint8_t>(60 + y * 10);
    }
  return rgb;
}

inline Bytes SmoothGrey(int width, int height) {
  Bytes g(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) g[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(30 + x * 9 + y * 5);
  return g;
}

// Grey pattern of one channel.
inline Bytes GreyPattern(int width, int height) {
  Bytes g(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<uint8_t>(i * 41 + 3);
  return g;
}

// A binary PPM (red first) or PGM holding these pixels.
inline void WritePnm(const std::string &path, int width, int height, const Bytes &pixels, bool grey = false) {
  std::string head = std::string(grey ? "P5" : "P6") + "\n" + std::to_string(width) + " " + std::to_string(height) +
                     "\n255\n";
  Bytes all(head.begin(), head.end());
  all.insert(all.end(), pixels.begin(), pixels.end());
  WriteFile(path, all);
}

// Swaps the first and third byte of every pixel of c bytes.
inline Bytes SwapRB(Bytes b, int c) {
  for (size_t i = 0; i + 2 < b.size(); i += static_cast<size_t>(c)) std::swap(b[i], b[i + 2]);
  return b;
}

inline Bytes Level(const txBitmap *b, int level = 0) {
  return Bytes(b->image[level], b->image[level] + b->imageSize[level]);
}

// Owns a txBitmap for the length of a case.
struct Owned {
  txBitmap *b = nullptr;
  Owned() = default;
  explicit Owned(txBitmap *p) : b(p) {}
  ~Owned() {
    if (b) txFree(&b);
  }
  Owned(const Owned &) = delete;
  Owned &operator=(const Owned &) = delete;
  Owned &operator=(txBitmap *p) {
    if (b) txFree(&b);
    b = p;
    return *this;
  }
  txBitmap *operator->() const { return b; }
  explicit operator bool() const { return b != nullptr; }
};

using brisktest::LiveTrackedBytes;

// Every case starts from the loader's initial settings and knows where the
// log stood when it began.
class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    txOptions(TX_OPT_QUALITY, 0);
    txOptions(TX_OPT_ORDER, 0);
    txOptions(TX_OPT_FLIP, 0);
    txOptions(TX_OPT_DEBUG, 0);
    txOptions(TX_OPT_DDZ, 1);
    txOptions(TX_DXT1, 0);
    txOptions(TX_DXT3, 0);
    txOptions(TX_DXT5, 0);
    txOptions(TX_OPT_PNG_LEVEL, 9);
    txOptions(TX_OPT_JPEG_QUALITY, 75);
    txOptions(TX_OPT_JPEG_OPTIMISE, 100);
    txOptions(TX_OPT_JPEG_PROGRESSIVE, 1);
    txOptions(TX_OPT_JPEG_BASELINE, 1);
    txOptions(TX_OPT_JPEG_SMOOTHING, 0);
    errClear();
    log_start_ = ReadFile(kLog).size();
  }
  // What the log received since the case began.
  std::string NewLog() const {
    std::string all = ReadText(kLog);
    return all.size() > log_start_ ? all.substr(log_start_) : std::string();
  }

 private:
  size_t log_start_ = 0;
};

using brisktest::InChild;

// --- byte builders ------------------------------------------------------------

inline void Put16(Bytes &b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A Targa header: image type, colour-map length and entry size, size, depth, descriptor.
inline Bytes TgaHeader(int type, int mapLength, int mapBits, int width, int height, int depth, int descriptor,
                       int idLength = 0) {
  Bytes h{static_cast<uint8_t>(idLength), static_cast<uint8_t>(mapLength ? 1 : 0), static_cast<uint8_t>(type)};
  Put16(h, 0);
  Put16(h, static_cast<unsigned>(mapLength));
  h.push_back(static_cast<uint8_t>(mapBits));
  Put16(h, 0);
  Put16(h, 0);
  Put16(h, static_cast<unsigned>(width));
  Put16(h, static_cast<unsigned>(height));
  h.push_back(static_cast<uint8_t>(depth));
  h.push_back(static_cast<uint8_t>(descriptor));
  return h;
}

// One explicit-VR little-endian DICOM element (short or long form by its VR).
inline void DicomElement(Bytes &b, unsigned group, unsigned element, const char *vr, const Bytes &value,
                         int64_t lengthOverride = -1) {
  Put16(b, group);
  Put16(b, element);
  b.push_back(static_cast<uint8_t>(vr[0]));
  b.push_back(static_cast<uint8_t>(vr[1]));
  const std::string v(vr);
  const bool longForm = v == "OB" || v == "OW" || v == "OF" || v == "SQ" || v == "UT" || v == "UN";
  const uint64_t length = lengthOverride >= 0 ? static_cast<uint64_t>(lengthOverride) : value.size();
  if (longForm) {
    Put16(b, 0);
    Put32(b, static_cast<uint32_t>(length));
  } else {
    Put16(b, static_cast<unsigned>(length));
  }
  b.insert(b.end(), value.begin(), value.end());
}

inline Bytes U16(unsigned v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

// A DICOM file: preamble, meta version, samples, rows, columns, pixel data.
inline Bytes Dicom(int width, int height, int samples, const Bytes &pixels, int64_t pixelLength = -1) {
  Bytes b(128, 0);
  for (char c : std::string("DICM")) b.push_back(static_cast<uint8_t>(c));
  DicomElement(b, 0x0002, 0x0001, "OB", {0, 1});
  DicomElement(b, 0x0002, 0x0010, "UI", Bytes{'1', '.', '2', '.', '8', '4', '0', '.', '1', '0', '0', '0', '8', '.',
                                              '1', '.', '2', '.', '1', 0});
  DicomElement(b, 0x0028, 0x0002, "US", U16(static_cast<unsigned>(samples)));
  DicomElement(b, 0x0028, 0x0010, "US", U16(static_cast<unsigned>(height)));
  DicomElement(b, 0x0028, 0x0011, "US", U16(static_cast<unsigned>(width)));
  DicomElement(b, 0x7FE0, 0x0010, "OB", pixels, pixelLength);
  return b;
}

// A DDS header for width x height with `levels` mipmap levels and the code.
inline Bytes DdsHeader(int width, int height, int levels, const char *fourcc) {
  Bytes h(128, 0);
  std::memcpy(h.data(), "DDS ", 4);
  auto at32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  at32(4, 124);
  at32(8, 0x000A1007);  // caps, height, width, pixel format, mipmap count, linear size
  at32(12, static_cast<uint32_t>(height));
  at32(16, static_cast<uint32_t>(width));
  at32(28, static_cast<uint32_t>(levels));
  at32(76, 32);
  at32(80, 4);
  std::memcpy(h.data() + 84, fourcc, 4);
  at32(108, 0x00401008);  // texture, mipmap, complex
  return h;
}

}  // namespace imagetest
