// Pack archives as untrusted bytes: every lie a catalog or an entry can tell
// is refused, either at the mount (nothing stays allocated or open) or when
// the bad entry is opened (the rest of the archive still reads).
#include <unistd.h>

#include <functional>

#include "fixture.h"

namespace {

using namespace filetest;

const std::string kStored = "hello stored";  // 12 bytes, raw
const std::string kText = [] {
  std::string t;
  for (int i = 0; i < 200; ++i) t += "line " + std::to_string(i) + " of a compressible text\n";
  return t;
}();
const std::string kNoise = Noise(300, 7);

Archive Valid() {
  return MakeArchive({{"stored.txt", kStored, false}, {"packed.txt", kText, true}, {"third.bin", kNoise, false}});
}

// Field positions inside catalog record i.
size_t StoredField(const Archive &a, int i) { return a.record_offsets[i]; }
size_t OffsetField(const Archive &a, int i) { return a.record_offsets[i] + 4; }
size_t FlagsField(const Archive &a, int i) { return a.record_offsets[i] + 8; }
size_t NameLengthField(const Archive &a, int i) { return a.record_offsets[i] + 9; }

// The archive with one catalog field changed.
std::string CatalogPoke(const Archive &a, size_t at, uint32_t value) {
  std::string catalog = a.catalog;
  PokeLe32(catalog, at, value);
  return a.WithCatalog(catalog, 3);
}

std::string CatalogByte(const Archive &a, size_t at, uint8_t value) {
  std::string catalog = a.catalog;
  catalog[at] = static_cast<char>(value);
  return a.WithCatalog(catalog, 3);
}

std::string Poke(std::string bytes, size_t at, uint32_t value) {
  PokeLe32(bytes, at, value);
  return bytes;
}

struct MountCase {
  const char *label;
  std::function<std::string(const Archive &)> make;
  int code;  // the archive handler's code
};

const MountCase kMountCases[] = {
    {"empty_file", [](const Archive &) { return std::string(); }, SYS_ERR_MAGIC},
    {"header_cut", [](const Archive &a) { return a.bytes.substr(0, 11); }, SYS_ERR_MAGIC},
    {"wrong_magic", [](const Archive &a) { return "BRKQ" + a.bytes.substr(4); }, SYS_ERR_MAGIC},
    {"catalog_offset_past_end",
     [](const Archive &a) { return Poke(a.bytes, 8, static_cast<uint32_t>(a.bytes.size()) + 10); }, SYS_ERR_MAGIC},
    {"catalog_offset_at_end", [](const Archive &a) { return Poke(a.bytes, 8, static_cast<uint32_t>(a.bytes.size())); },
     SYS_ERR_MAGIC},
    {"catalog_offset_in_header", [](const Archive &a) { return Poke(a.bytes, 8, 4); }, SYS_ERR_MAGIC},
    {"catalog_offset_max", [](const Archive &a) { return Poke(a.bytes, 8, 0xFFFFFFFFu); }, SYS_ERR_MAGIC},
    {"catalog_cut_short", [](const Archive &a) { return a.bytes.substr(0, a.bytes.size() - 5); }, SYS_ERR_ZLIB},
    {"catalog_shorter_than_block_header",
     [](const Archive &a) { return Poke(a.bytes, 8, static_cast<uint32_t>(a.bytes.size()) - 6); }, SYS_ERR_ZLIB},
    {"catalog_stream_corrupt",
     [](const Archive &a) {
       std::string b = a.bytes;
       for (size_t i = a.catalog_offset + 14; i < b.size() - 4; i += 3) b[i] = static_cast<char>(b[i] ^ 0x5A);
       return b;
     },
     SYS_ERR_ZLIB},
    {"catalog_announces_more",
     [](const Archive &a) { return Poke(a.bytes, a.catalog_offset, static_cast<uint32_t>(a.catalog.size()) + 10); },
     SYS_ERR_ZLIB},
    {"catalog_announces_less",
     [](const Archive &a) { return Poke(a.bytes, a.catalog_offset, static_cast<uint32_t>(a.catalog.size()) - 1); },
     SYS_ERR_ZLIB},
    {"catalog_announces_nothing", [](const Archive &a) { return Poke(a.bytes, a.catalog_offset, 0); }, SYS_ERR_NOMEM},
    {"catalog_announces_2gib", [](const Archive &a) { return Poke(a.bytes, a.catalog_offset, 0x7FFFFFFFu); },
     SYS_ERR_ZLIB},
    {"catalog_announces_4gib", [](const Archive &a) { return Poke(a.bytes, a.catalog_offset, 0xFFFFFFFFu); },
     SYS_ERR_ZLIB},
    {"catalog_stream_length_lies", [](const Archive &a) { return Poke(a.bytes, a.catalog_offset + 4, 0x7FFFFFF0u); },
     SYS_ERR_ZLIB},
    {"count_beyond_records", [](const Archive &a) { return a.WithCatalog(a.catalog, 4); }, SYS_ERR_MAGIC},
    {"count_huge", [](const Archive &a) { return a.WithCatalog(a.catalog, 0xFFFFFFFFu); }, SYS_ERR_MAGIC},
    {"count_zero", [](const Archive &a) { return a.WithCatalog(a.catalog, 0); }, SYS_ERR_MAGIC},
    {"record_cut_in_its_fields", [](const Archive &a) { return a.WithCatalog(a.catalog + "\x01\x00\x00", 4); },
     SYS_ERR_MAGIC},
    {"name_longer_than_catalog",
     [](const Archive &a) {
       std::string catalog = a.catalog;
       catalog[NameLengthField(a, 2)] = '\xFF';
       catalog[NameLengthField(a, 2) + 1] = '\xFF';
       return a.WithCatalog(catalog, 3);
     },
     SYS_ERR_MAGIC},
    {"data_offset_past_end",
     [](const Archive &a) { return CatalogPoke(a, OffsetField(a, 0), static_cast<uint32_t>(a.bytes.size()) + 1); },
     SYS_ERR_MAGIC},
    {"stored_length_past_end",
     [](const Archive &a) { return CatalogPoke(a, StoredField(a, 2), static_cast<uint32_t>(a.bytes.size())); },
     SYS_ERR_MAGIC},
    {"offset_plus_length_wraps",
     [](const Archive &a) {
       std::string catalog = a.catalog;
       PokeLe32(catalog, OffsetField(a, 0), 0xFFFFFFF0u);
       PokeLe32(catalog, StoredField(a, 0), 0x20u);
       return a.WithCatalog(catalog, 3);
     },
     SYS_ERR_MAGIC},
    {"compressed_entry_shorter_than_block_header", [](const Archive &a) { return CatalogPoke(a, StoredField(a, 1), 8); },
     SYS_ERR_MAGIC},
    {"compressed_flag_on_raw_bytes", [](const Archive &a) { return CatalogByte(a, FlagsField(a, 0), 1); },
     SYS_ERR_MAGIC},
    {"entry_stream_longer_than_stored",
     [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1] + 4, PeekLe32(a.bytes, a.data_offsets[1] + 4) + 1); },
     SYS_ERR_MAGIC},
    {"entry_announces_2gib", [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1], 0x7FFFFFFFu); },
     SYS_ERR_MAGIC},
    {"entry_announces_4gib", [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1], 0xFFFFFFFFu); },
     SYS_ERR_MAGIC},
    {"entry_announces_nothing", [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1], 0); }, SYS_ERR_MAGIC},
};

class MalformedMount : public FileTest, public ::testing::WithParamInterface<MountCase> {};

TEST_P(MalformedMount, IsRefusedAndLeavesNothingBehind) {
  const MountCase &c = GetParam();
  WriteFile("bad.pack", c.make(Valid()));
  const Live before = LiveMemory();
  const int descriptors = OpenDescriptors();

  EXPECT_EQ(SYS_FilePackOpen_pack("bad.pack"), -1);
  EXPECT_EQ(errGetLastError(), c.code);
  EXPECT_EQ(SYS_FilePackOpen("bad.pack"), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);

  EXPECT_EQ(SYS_PackGetList(), nullptr);
  EXPECT_EQ(SYS_FileExist("stored.txt"), -1);
  const Live after = LiveMemory();
  EXPECT_EQ(after.bytes, before.bytes) << after.report;
  EXPECT_EQ(after.blocks, before.blocks) << after.report;
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Archives, MalformedMount, ::testing::ValuesIn(kMountCases),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(FileTest, TheUntamperedArchiveMountsAndReads) {
  WriteFile("good.pack", Valid().bytes);
  ASSERT_EQ(SYS_FilePackOpen("good.pack"), 0);
  EXPECT_EQ(ReadName("stored.txt"), kStored);
  EXPECT_EQ(ReadName("packed.txt"), kText);
  EXPECT_EQ(ReadName("third.bin"), kNoise);
  EXPECT_EQ(SYS_FileSize("packed.txt"), static_cast<int>(kText.size()));
}

// Entries whose block lies in a way only inflating shows: the mount accepts
// the archive, the entry fails to open with 8, the others still read.
struct EntryCase {
  const char *label;
  std::function<std::string(const Archive &)> make;
};

const EntryCase kEntryCases[] = {
    {"announces_more_than_stream_yields",
     [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1], static_cast<uint32_t>(kText.size()) + 1); }},
    {"announces_less_than_stream_yields",
     [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1], static_cast<uint32_t>(kText.size()) - 1); }},
    {"stream_corrupt",
     [](const Archive &a) {
       std::string b = a.bytes;
       for (size_t i = a.data_offsets[1] + 20; i < a.data_offsets[1] + 60; ++i) b[i] = static_cast<char>(b[i] ^ 0xA5);
       return b;
     }},
    {"stream_cut_short",
     [](const Archive &a) { return Poke(a.bytes, a.data_offsets[1] + 4, PeekLe32(a.bytes, a.data_offsets[1] + 4) - 10); }},
    {"stream_without_wrapper",
     [](const Archive &a) {
       std::string b = a.bytes;
       b[a.data_offsets[1] + 12] = 0;  // not a zlib header
       return b;
     }},
};

class LyingEntry : public FileTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(LyingEntry, FailsToOpenAndTheRestStillReads) {
  WriteFile("lies.pack", GetParam().make(Valid()));
  ASSERT_EQ(SYS_FilePackOpen("lies.pack"), 0);
  const Live before = LiveMemory();
  EXPECT_EQ(SYS_FileOpen("packed.txt", 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ZLIB);
  const Live after = LiveMemory();
  EXPECT_EQ(after.bytes, before.bytes) << after.report;
  EXPECT_EQ(after.blocks, before.blocks) << after.report;
  EXPECT_EQ(ReadName("stored.txt"), kStored);
  EXPECT_EQ(ReadName("third.bin"), kNoise);
}

INSTANTIATE_TEST_SUITE_P(Entries, LyingEntry, ::testing::ValuesIn(kEntryCases),
                         [](const auto &info) { return std::string(info.param.label); });

// The archive stream is buffered: these archives keep the entries under test
// well away from the last bytes the mount read, so that the open reads the
// file as it is now.
TEST_F(FileTest, ArchiveCutAfterTheMountFailsToOpenItsLostEntries) {
  const std::string filler = Noise(64 * 1024, 5);
  const Archive a = MakeArchive(
      {{"stored.txt", kStored, false}, {"filler.bin", filler, false}, {"packed.txt", kText, true}});
  WriteFile("shrinking.pack", a.bytes);
  ASSERT_EQ(SYS_FilePackOpen("shrinking.pack"), 0);
  ASSERT_EQ(truncate("shrinking.pack", a.data_offsets[1] + 20), 0);
  const Live before = LiveMemory();
  EXPECT_EQ(SYS_FileOpen("filler.bin", 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_MAGIC);
  EXPECT_EQ(LiveMemory().bytes, before.bytes);
  EXPECT_EQ(ReadName("stored.txt"), kStored);
}

TEST_F(FileTest, ArchiveRewrittenAfterTheMountCannotHandOutTheWrongSize) {
  // After the mount the entry's block is replaced by a sound block of another
  // size: the open must not hand out more bytes than the catalog it mounted.
  std::string letters = Noise(1000, 3);
  for (char &c : letters) c = static_cast<char>('a' + static_cast<uint8_t>(c) % 26);
  const Archive first = MakeArchive(
      {{"x.txt", letters, true}, {"filler.bin", Noise(64 * 1024, 6), false}, {"tail.txt", kText, true}});
  WriteFile("changing.pack", first.bytes);
  ASSERT_EQ(SYS_FilePackOpen("changing.pack"), 0);
  ASSERT_EQ(SYS_FileSize("x.txt"), 1000);
  const std::string other = Block(std::string(2000, 'a'));
  ASSERT_LT(other.size(), first.data_offsets[1] - first.data_offsets[0]);
  std::string rewritten = first.bytes;
  rewritten.replace(first.data_offsets[0], other.size(), other);
  WriteFile("changing.pack", rewritten);
  EXPECT_EQ(SYS_FileOpen("x.txt", 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ZLIB);
  EXPECT_EQ(ReadName("tail.txt"), kText);
}

}  // namespace
