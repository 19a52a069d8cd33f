// The pack archive's layout, shared by its reader (base/file_pack.cpp) and
// by the pack tool's writer and verifier (tools/pack). All fields are
// little-endian; base/file.h describes the layout in words.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/reader.h"

namespace brisk::pack {

inline constexpr char kMagic[4] = {'B', 'R', 'K', 'P'};
// Magic, entry count, catalog offset; entry data follow.
inline constexpr uint32_t kHeaderSize = 12;
inline constexpr uint32_t kCatalogOffsetField = 8;
// Stored length (4), data offset (4), flags (1), name length (2), then the name.
inline constexpr uint32_t kRecordFixedSize = 11;

struct Header {
  uint32_t count = 0;
  uint32_t catalog_offset = 0;
};

struct Record {
  uint32_t stored = 0;  // bytes in the archive
  uint32_t offset = 0;  // of the data, from the archive's start
  uint8_t flags = 0;    // SYS_PACK_COMPRESSED
  std::span<const uint8_t> name;
};

// The header's fields after a magic check; false when the bytes are short or
// the magic is not there.
inline bool ReadHeader(std::span<const uint8_t> bytes, Header &header) {
  brisk::ByteReader r(bytes);
  const std::string_view magic = r.text(sizeof kMagic);
  header.count = r.u32le();
  header.catalog_offset = r.u32le();
  return r.ok() && magic == std::string_view(kMagic, sizeof kMagic);
}

// The next catalog record; `catalog.failed()` tells that it ran past the end.
inline Record ReadRecord(brisk::ByteReader &catalog) {
  Record record;
  record.stored = catalog.u32le();
  record.offset = catalog.u32le();
  record.flags = catalog.u8();
  record.name = catalog.bytes(catalog.u16le());
  return record;
}

inline void PutLe(std::string &out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline std::string HeaderBytes(const Header &header) {
  std::string out(kMagic, sizeof kMagic);
  PutLe(out, header.count, 4);
  PutLe(out, header.catalog_offset, 4);
  return out;
}

// Appends one record; the name must be shorter than 65536 bytes.
inline void PutRecord(std::string &catalog, uint32_t stored, uint32_t offset, uint8_t flags, std::string_view name) {
  PutLe(catalog, stored, 4);
  PutLe(catalog, offset, 4);
  PutLe(catalog, flags, 1);
  PutLe(catalog, static_cast<uint32_t>(name.size()), 2);
  catalog += name;
}

}  // namespace brisk::pack
