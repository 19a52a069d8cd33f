// Compressed blocks and checksums: the round trip, the header fields, the
// compression level, and every way a block can be broken.
#include <zlib.h>

#include "fixture.h"

namespace {

using namespace filetest;

std::string Repeated(size_t size) {
  std::string out;
  while (out.size() < size) out += "the show must go on; ";
  out.resize(size);
  return out;
}

struct RoundTrip {
  const char *label;
  std::string data;
};

class BlockRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(BlockRoundTrip, GivesBackTheSameBytes) {
  const std::string &data = GetParam().data;
  for (unsigned level : {0u, 1u, 6u, 9u}) {
    ASSERT_EQ(SYS_ZSetCompLevel(level), 0);
    void *block = nullptr;
    int block_length = 0;
    ASSERT_EQ(SYS_ZCompress(data.data(), static_cast<int>(data.size()), &block, &block_length), 0) << level;
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(SYS_MemSize(block), block_length);
    const std::string bytes(static_cast<const char *>(block), static_cast<size_t>(block_length));
    EXPECT_EQ(PeekLe32(bytes, 0), data.size());
    EXPECT_EQ(PeekLe32(bytes, 4), static_cast<uint32_t>(block_length - 12));
    EXPECT_EQ(PeekLe32(bytes, 8), crc32(0L, reinterpret_cast<const Bytef *>(bytes.data() + 12), block_length - 12));

    void *out = nullptr;
    int length = 0;
    ASSERT_EQ(SYS_ZUncompress(block, &out, &length), 0) << level;
    EXPECT_EQ(length, static_cast<int>(data.size()));
    EXPECT_EQ(std::string(static_cast<const char *>(out), static_cast<size_t>(length)), data);
    SYS_MemFree(out);
    ASSERT_EQ(SYS_ZUncompressEx(block, block_length, &out, &length), 0);
    EXPECT_EQ(std::string(static_cast<const char *>(out), static_cast<size_t>(length)), data);
    SYS_MemFree(out);
    SYS_MemFree(block);
  }
  SYS_ZSetCompLevel(9);
}

INSTANTIATE_TEST_SUITE_P(Data, BlockRoundTrip,
                         ::testing::Values(RoundTrip{"one_byte", "x"}, RoundTrip{"text", Repeated(70000)},
                                           RoundTrip{"noise", Noise(100000, 1)},
                                           RoundTrip{"small_noise", Noise(400, 2)},
                                           RoundTrip{"zeros", std::string(1 << 20, '\0')}),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(Block, LevelTenIsRefusedAndThePreviousLevelStays) {
  const std::string text = Repeated(50000);
  auto compressed_size = [&] {
    void *block = nullptr;
    int length = 0;
    EXPECT_EQ(SYS_ZCompress(text.data(), static_cast<int>(text.size()), &block, &length), 0);
    SYS_MemFree(block);
    return length;
  };
  ASSERT_EQ(SYS_ZSetCompLevel(0), 0);
  const int stored = compressed_size();
  EXPECT_GT(stored, static_cast<int>(text.size()));  // level 0 only wraps
  EXPECT_EQ(SYS_ZSetCompLevel(10), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_LEVEL);
  EXPECT_EQ(compressed_size(), stored);
  ASSERT_EQ(SYS_ZSetCompLevel(9), 0);
  EXPECT_LT(compressed_size(), stored / 10);
}

// A block of text, and the same block with one of its header fields changed.
std::string TextBlock() { return Block(Repeated(20000)); }

std::string WithField(std::string block, size_t at, uint32_t value) {
  PokeLe32(block, at, value);
  return block;
}

struct Broken {
  const char *label;
  std::function<std::string()> make;
  int code;
};

const Broken kBroken[] = {
    // The stream loses its tail, the header still tells the truth about what is left.
    {"cut_to_half", [] { std::string b = TextBlock(); return WithField(b.substr(0, 12 + (b.size() - 12) / 2), 4, static_cast<uint32_t>((b.size() - 12) / 2)); }, SYS_ERR_ZLIB},
    {"cut_before_trailer", [] { std::string b = TextBlock(); return WithField(b.substr(0, b.size() - 4), 4, static_cast<uint32_t>(b.size() - 16)); }, SYS_ERR_ZLIB},
    {"cut_to_header_only", [] { return WithField(TextBlock().substr(0, 12), 4, 0); }, SYS_ERR_ZLIB},
    {"announces_nothing", [] { return WithField(TextBlock(), 0, 0); }, SYS_ERR_NOMEM},
    {"announces_more", [] { return WithField(TextBlock(), 0, 20001); }, SYS_ERR_ZLIB},
    {"announces_less", [] { return WithField(TextBlock(), 0, 19999); }, SYS_ERR_ZLIB},
    {"announces_beyond_deflate", [] { return WithField(TextBlock(), 0, 0x7FFFFFFFu); }, SYS_ERR_ZLIB},
    {"announces_4gib", [] { return WithField(TextBlock(), 0, 0xFFFFFFFFu); }, SYS_ERR_ZLIB},
    {"corrupt_checksum_trailer",
     [] {
       std::string b = TextBlock();
       b[b.size() - 1] = static_cast<char>(b[b.size() - 1] ^ 1);
       return b;
     },
     SYS_ERR_ZLIB},
    {"raw_deflate_without_wrapper",
     [] {
       std::string b = TextBlock();
       b[12] = static_cast<char>(0x00);
       return b;
     },
     SYS_ERR_ZLIB},
};

class BrokenBlock : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenBlock, FailsAndLeavesNothingAllocated) {
  const std::string block = GetParam().make();
  const Live before = LiveMemory();
  void *out = reinterpret_cast<void *>(0x1);
  int length = -5;
  EXPECT_EQ(SYS_ZUncompress(block.data(), &out, &length), -1);
  EXPECT_EQ(errGetLastError(), GetParam().code);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(SYS_ZUncompressEx(block.data(), static_cast<int>(block.size()), &out, &length), -1);
  EXPECT_EQ(errGetLastError(), GetParam().code);
  EXPECT_EQ(out, nullptr);
  const Live after = LiveMemory();
  EXPECT_EQ(after.bytes, before.bytes) << after.report;
  EXPECT_EQ(after.blocks, before.blocks) << after.report;
}

INSTANTIATE_TEST_SUITE_P(Blocks, BrokenBlock, ::testing::ValuesIn(kBroken),
                         [](const auto &info) { return std::string(info.param.label); });

TEST(Block, BoundedReadRefusesBlocksLongerThanTheirBytes) {
  const std::string block = TextBlock();
  void *out = nullptr;
  int length = 0;
  // Every cut of the bytes, whatever the header says, fails with 8 and reads nothing past the cut.
  for (size_t keep : {size_t(0), size_t(5), size_t(11), size_t(12), size_t(13), block.size() / 2, block.size() - 1}) {
    const std::string cut = block.substr(0, keep);
    EXPECT_EQ(SYS_ZUncompressEx(cut.data(), static_cast<int>(cut.size()), &out, &length), -1) << keep;
    EXPECT_EQ(errGetLastError(), SYS_ERR_ZLIB) << keep;
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(SYS_ZUncompressEx(block.data(), -1, &out, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ZLIB);
}

TEST(Block, BadArguments) {
  void *block = nullptr;
  int length = 0;
  const char data[4] = {1, 2, 3, 4};
  EXPECT_EQ(SYS_ZCompress(nullptr, 4, &block, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_ZCompress(data, 0, &block, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_ZCompress(data, -4, &block, &length), -1);
  EXPECT_EQ(SYS_ZCompress(data, 4, nullptr, &length), -1);
  EXPECT_EQ(SYS_ZCompress(data, 4, &block, nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(SYS_ZUncompress(nullptr, &block, &length), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_ZUncompress(data, nullptr, &length), -1);
  EXPECT_EQ(SYS_ZUncompress(data, &block, nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

TEST(Checksum, KnownValuesAndRefusals) {
  const char *check = "123456789";
  EXPECT_EQ(SYS_ZCrc32(check, 9), 0xCBF43926u);
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_EQ(SYS_ZAdler("Wikipedia", 9), 0x11E60398u);
  EXPECT_EQ(SYS_ZAdler("a", 1), 0x00620062u);
  struct Bad {
    const void *data;
    int length;
  };
  for (const Bad &b : {Bad{nullptr, 4}, Bad{check, 0}, Bad{check, -1}}) {
    EXPECT_EQ(SYS_ZCrc32(b.data, b.length), 0xFFFFFFFFu);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
    EXPECT_EQ(SYS_ZAdler(b.data, b.length), 0xFFFFFFFFu);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  }
}

}  // namespace
