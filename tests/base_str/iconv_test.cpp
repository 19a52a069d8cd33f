#include <gtest/gtest.h>

#include <iconv.h>

#include <array>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/str.h"

namespace {

using Bytes = std::vector<unsigned char>;

// All 256 byte values in order.
std::array<char, 256> AllBytes() {
  std::array<char, 256> bytes{};
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  return bytes;
}

// glibc's conversion of all 256 bytes of ISO 8859 part `part` to `to`;
// empty when glibc cannot convert every byte.
Bytes GlibcConvert(int part, const char *to) {
  const std::string from = "ISO-8859-" + std::to_string(part);
  iconv_t cd = iconv_open(to, from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  auto in = AllBytes();
  Bytes out(256 * 4 + 16);
  char *in_p = in.data();
  size_t in_left = in.size();
  char *out_p = reinterpret_cast<char *>(out.data());
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1) || in_left != 0) return {};
  out.resize(out.size() - out_left);
  return out;
}

constexpr int kParts[] = {1, 2, 4, 5, 9, 10, 13, 14, 15};

// Every table equals the published mapping, as an independent converter knows it.
TEST(IConv, EveryTableMatchesGlibc) {
  struct Target {
    int id, unit;
    const char *glibc_name;
  };
  const Target targets[] = {{SYS_UCS2, 2, "UCS-2BE"}, {SYS_UCS4, 4, "UCS-4BE"}};
  const auto in = AllBytes();
  for (const Target &t : targets) {
    for (int part : kParts) {
      SCOPED_TRACE("ISO 8859-" + std::to_string(part) + " to " + t.glibc_name);
      const Bytes expected = GlibcConvert(part, t.glibc_name);
      ASSERT_EQ(expected.size(), 256u * t.unit) << "glibc cannot convert this part";
      Bytes out(256 * t.unit + 8, 0xEE);
      int length = -1;
      errSetLastError(SYS_ERR_MAGIC);
      ASSERT_EQ(SYS_IConvToUCS(part, t.id, in.data(), 256, out.data(), &length), 0);
      EXPECT_EQ(errGetLastError(), 0);
      EXPECT_EQ(length, 256 * t.unit);
      for (int b = 0; b < 256; ++b)
        for (int k = 0; k < t.unit; ++k)
          ASSERT_EQ(out[b * t.unit + k], expected[b * t.unit + k])
              << "byte 0x" << std::hex << b << " unit byte " << k;
      for (size_t i = 256 * t.unit; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0xEE) << "wrote past the output";
    }
  }
}

TEST(IConv, EuroSignOfLatin9) {
  const char text[] = "\xA4";
  unsigned char out2[2] = {};
  int length = 0;
  ASSERT_EQ(SYS_IConvToUCS(15, SYS_UCS2, text, 1, out2, &length), 0);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(out2[0], 0x20);
  EXPECT_EQ(out2[1], 0xAC);
  unsigned char out4[4] = {};
  ASSERT_EQ(SYS_IConvToUCS(15, SYS_UCS4, text, 1, out4, &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(Bytes(out4, out4 + 4), (Bytes{0x00, 0x00, 0x20, 0xAC}));
  // The same byte in part 1 is the currency sign.
  ASSERT_EQ(SYS_IConvToUCS(1, SYS_UCS2, text, 1, out2, &length), 0);
  EXPECT_EQ(Bytes(out2, out2 + 2), (Bytes{0x00, 0xA4}));
}

TEST(IConv, UnknownPairsFail) {
  const std::pair<int, int> pairs[] = {{3, SYS_UCS2}, {16, SYS_UCS2}, {0, SYS_UCS4}, {1, 29}, {1, 32},
                                       {20, SYS_UCS2}, {30, SYS_UCS2}};
  for (auto [source, target] : pairs) {
    SCOPED_TRACE(std::to_string(source) + " to " + std::to_string(target));
    unsigned char out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    int length = 77;
    EXPECT_EQ(SYS_IConvToUCS(source, target, "ab", 2, out, &length), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
    EXPECT_EQ(length, 77);
    EXPECT_EQ(out[0], 1);
  }
}

TEST(IConv, EmptyAndInvalidBuffers) {
  int length = 77;
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS2, "", 0, nullptr, &length), 0);
  EXPECT_EQ(length, 0);
  unsigned char out[4];
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS2, "a", 1, out, nullptr), 0);   // length not wanted
  EXPECT_EQ(out[1], 'a');
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS2, "a", -1, out, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS2, nullptr, 1, out, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS2, "a", 1, nullptr, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  // A length whose output size does not fit an int is refused before writing.
  EXPECT_EQ(SYS_IConvToUCS(1, SYS_UCS4, "a", 0x40000000, out, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

}  // namespace
