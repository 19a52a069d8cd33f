// Helpers of the file-layer tests: the base library started once per test
// process (with the file layer's debug lines on), files on disk, the tracked
// allocator's live total, and a writer of pack archives that knows nothing of
// the reader, so that malformed archives can be made byte by byte.
#pragma once

#include "tests/support/live_memory.h"
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/file.h"
#include "base/internal.h"
#include "base/zblock.h"

namespace filetest {

class BaseEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::vector<std::string> args{"file_test", "-v", "-debug-file"};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    SYS_BaseInit(nullptr, static_cast<int>(argv.size()), argv.data(), nullptr);
  }
  void TearDown() override { SYS_BaseDone(); }
};

inline ::testing::Environment *const g_environment = ::testing::AddGlobalTestEnvironment(new BaseEnvironment);

inline void WriteFile(const std::string &path, const std::string &bytes) {
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// Bytes and blocks the tracked allocator holds right now.
using Live = brisktest::LiveMemory;
inline Live LiveMemory() { return brisktest::ReadLiveMemory(); }

inline int OpenDescriptors() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

inline std::string Noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char &c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

inline void PutLe32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void PokeLe32(std::string &bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline uint32_t PeekLe32(const std::string &bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  return v;
}

// A compressed block of data, made by the block layer.
inline std::string Block(const std::string &data) {
  void *block = nullptr;
  int length = 0;
  EXPECT_EQ(SYS_ZCompress(data.data(), static_cast<int>(data.size()), &block, &length), 0);
  std::string out(static_cast<const char *>(block), static_cast<size_t>(length));
  SYS_MemFree(block);
  return out;
}

struct EntrySpec {
  std::string name;
  std::string data;
  bool compress = false;
};

// An archive laid out as the format says, with its parts kept for tampering.
struct Archive {
  std::string bytes;
  std::string catalog;                  // uncompressed catalog
  uint32_t catalog_offset = 0;
  std::vector<uint32_t> record_offsets;  // where each record starts in the catalog
  std::vector<uint32_t> data_offsets;    // where each entry's bytes start in the archive

  // The archive again with a different (uncompressed) catalog or entry count.
  std::string WithCatalog(const std::string &raw_catalog, uint32_t count) const {
    std::string out = bytes.substr(0, catalog_offset);
    PokeLe32(out, 4, count);
    return out + Block(raw_catalog);
  }
};

inline Archive MakeArchive(const std::vector<EntrySpec> &entries) {
  Archive a;
  std::string data;
  for (const EntrySpec &e : entries) {
    const std::string stored = e.compress ? Block(e.data) : e.data;
    const uint32_t offset = 12 + static_cast<uint32_t>(data.size());
    a.data_offsets.push_back(offset);
    a.record_offsets.push_back(static_cast<uint32_t>(a.catalog.size()));
    PutLe32(a.catalog, static_cast<uint32_t>(stored.size()));
    PutLe32(a.catalog, offset);
    a.catalog += static_cast<char>(e.compress ? 1 : 0);
    a.catalog += static_cast<char>(e.name.size() & 0xFF);
    a.catalog += static_cast<char>(e.name.size() >> 8);
    a.catalog += e.name;
    data += stored;
  }
  a.catalog_offset = 12 + static_cast<uint32_t>(data.size());
  a.bytes = "BRKP";
  PutLe32(a.bytes, static_cast<uint32_t>(entries.size()));
  PutLe32(a.bytes, a.catalog_offset);
  a.bytes += data;
  a.bytes += Block(a.catalog);
  return a;
}

// Every test leaves nothing mounted behind.
class FileTest : public ::testing::Test {
 protected:
  void TearDown() override { brisk::base::FileShutdown(); }

  // Reads a whole file through the file layer.
  static std::string ReadAll(SYS_File_t *file) {
    std::string out;
    char chunk[4096];
    int got;
    while ((got = SYS_FileRead(file, chunk, sizeof chunk)) > 0) out.append(chunk, static_cast<size_t>(got));
    return out;
  }

  static std::string ReadName(const char *name) {
    SYS_File_t *file = SYS_FileOpen(name, 0);
    if (!file) return "<not opened>";
    std::string out = ReadAll(file);
    SYS_FileClose(file);
    return out;
  }
};

}  // namespace filetest
