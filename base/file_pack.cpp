// Pack archives: one file holding a compressed catalog and many entries,
// each stored raw or as a compressed block. An entry is loaded whole on its
// first open and read from memory after that.
//
// An archive is untrusted: the catalog is parsed through a bounded reader and
// every record is checked against the archive before it is accepted, so the
// mount and the entry reads stay inside the file whatever the catalog says.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "base/errors.h"
#include "base/file.h"
#include "base/file_private.h"
#include "base/list.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/pack_format.h"
#include "base/reader.h"
#include "base/scoped.h"
#include "base/zblock.h"

namespace brisk::base::file {

namespace {

SYS_List_p g_packs = nullptr;  // newest first

using brisk::Fail;
using brisk::pack::kHeaderSize;
constexpr uint64_t kMaxDeflateRatio = 1032;

void ReleasePack(SYS_Pack_t *pack) {
  for (int i = 0; i < pack->count; ++i) {
    SYS_MemFree(pack->entries[i].name);
    SYS_MemFree(pack->entries[i].data);
  }
  SYS_MemFree(pack->entries);
  SYS_FileClose(pack->archive);
  SYS_MemFree(pack->path);
  SYS_MemFree(pack);
}

// Owner of a pack being mounted; a failed mount releases it, keeping the failure's code.
struct PackRelease {
  void operator()(SYS_Pack_t *pack) const noexcept {
    brisk::KeepingError([&] { ReleasePack(pack); });
  }
};

std::pair<SYS_Pack_t *, SYS_PackEntry_t *> FindEntry(const char *name) {
  if (!name) return {nullptr, nullptr};
  for (SYS_List_p node = g_packs; node; node = node->next) {
    auto *pack = static_cast<SYS_Pack_t *>(node->data);
    for (int i = 0; i < pack->count; ++i)
      if (std::strcmp(pack->entries[i].name, name) == 0) return {pack, &pack->entries[i]};
  }
  return {nullptr, nullptr};
}

// Exactly length bytes of the archive from offset, in a new tracked buffer;
// null with error 5, or 12 when the archive does not hold them.
uint8_t *ReadAt(SYS_File_t *archive, uint32_t offset, uint32_t length, const char *tag) {
  if (length > static_cast<uint32_t>(INT_MAX) || offset > static_cast<uint32_t>(INT_MAX) ||
      SYS_FileSeek(archive, static_cast<int>(offset)) != 0)
    return Fail(SYS_ERR_MAGIC, nullptr);
  auto buffer = brisk::OwnMem(static_cast<uint8_t *>(SYS_MemGet(length, tag)));
  if (!buffer) return Fail(SYS_ERR_NOMEM, nullptr);
  if (SYS_FileRead(archive, buffer.get(), static_cast<int>(length)) != static_cast<int>(length))
    return Fail(SYS_ERR_MAGIC, nullptr);
  return buffer.release();
}

// Reads and checks one catalog record into entry; 0, or -1 with the error set.
int ReadRecord(brisk::ByteReader &catalog, SYS_File_t *archive, SYS_PackEntry_t &entry) {
  const brisk::pack::Record record = brisk::pack::ReadRecord(catalog);
  const uint32_t stored = record.stored;
  // A record running past the catalog, or data lying past the end of the archive.
  if (catalog.failed() || static_cast<uint64_t>(record.offset) + stored > static_cast<uint64_t>(archive->size))
    return Fail(SYS_ERR_MAGIC, -1);
  entry.name = static_cast<char *>(SYS_MemGet(record.name.size() + 1u, "pack: name"));
  if (!entry.name) return Fail(SYS_ERR_NOMEM, -1);
  if (!record.name.empty()) std::memcpy(entry.name, record.name.data(), record.name.size());
  entry.stored_length = stored;
  entry.offset = record.offset;
  entry.flags = record.flags;
  if (!(record.flags & SYS_PACK_COMPRESSED)) {
    entry.size = stored;
    return stored > static_cast<uint32_t>(INT_MAX) ? Fail(SYS_ERR_MAGIC, -1) : 0;
  }
  // A compressed entry is one block that must fit its stored length and
  // announce a size its stream can really produce.
  uint8_t header[SYS_ZBLOCK_HEADER];
  if (stored < SYS_ZBLOCK_HEADER || SYS_FileSeek(archive, static_cast<int>(record.offset)) != 0 ||
      SYS_FileRead(archive, header, SYS_ZBLOCK_HEADER) != SYS_ZBLOCK_HEADER)
    return Fail(SYS_ERR_MAGIC, -1);
  brisk::ByteReader block(header, sizeof header);
  const uint32_t size = block.u32le();
  const uint32_t stream = block.u32le();
  if (stream > stored - SYS_ZBLOCK_HEADER || size == 0 || size > static_cast<uint32_t>(INT_MAX) ||
      size > stream * kMaxDeflateRatio)
    return Fail(SYS_ERR_MAGIC, -1);
  entry.size = size;
  return 0;
}

// Reads, uncompresses and parses the catalog into pack; 0, or -1 with the error set.
int ReadCatalog(SYS_Pack_t *pack, uint32_t count, uint32_t catalog_offset) {
  SYS_File_t *archive = pack->archive;
  if (archive->size < 0 || catalog_offset < kHeaderSize || catalog_offset >= static_cast<uint32_t>(archive->size))
    return Fail(SYS_ERR_MAGIC, -1);
  const uint32_t raw_length = static_cast<uint32_t>(archive->size) - catalog_offset;
  void *catalog_block = nullptr;
  int catalog_length = 0;
  {
    auto raw = brisk::OwnMem(ReadAt(archive, catalog_offset, raw_length, "pack: tree buffer"));
    if (!raw) return -1;
    if (SYS_ZUncompressEx(raw.get(), static_cast<int>(raw_length), &catalog_block, &catalog_length) != 0) return -1;
  }
  auto catalog = brisk::OwnMem(catalog_block);

  // Every record takes its fixed fields at least: a count the catalog cannot
  // hold is refused before anything is allocated for it.
  if (count == 0 || count > static_cast<uint32_t>(catalog_length) / brisk::pack::kRecordFixedSize ||
      count > INT_MAX / sizeof(SYS_PackEntry_t))
    return Fail(SYS_ERR_MAGIC, -1);
  pack->entries = static_cast<SYS_PackEntry_t *>(SYS_MemGet(sizeof(SYS_PackEntry_t) * count, "list"));
  if (!pack->entries) return Fail(SYS_ERR_NOMEM, -1);
  SYS_MSG(Level(), "file-pack", " - files:\n");
  brisk::ByteReader reader(catalog.get(), static_cast<size_t>(catalog_length));
  int result = 0;
  for (uint32_t i = 0; i < count; ++i) {
    SYS_PackEntry_t &entry = pack->entries[i];
    result = ReadRecord(reader, archive, entry);
    if (entry.name) pack->count = static_cast<int>(i) + 1;
    if (result != 0) break;
    SYS_MSG(Level(), "file-pack", "    - %s\n", entry.name);
  }
  return result;
}

// Loads an entry's contents into memory; 0, or -1 with the error set.
int LoadEntry(SYS_File_t *archive, SYS_PackEntry_t *entry) {
  if (!(entry->flags & SYS_PACK_COMPRESSED)) {
    // An empty entry still gets a buffer, so that it reads as empty rather than as released.
    entry->data = entry->size ? ReadAt(archive, entry->offset, entry->size, "open: buffer")
                              : SYS_MemGet(1, "open: buffer");
    if (!entry->data && !entry->size) errSetLastError(SYS_ERR_NOMEM);
    return entry->data ? 0 : -1;
  }
  void *data = nullptr;
  int length = 0;
  {
    auto block = brisk::OwnMem(ReadAt(archive, entry->offset, entry->stored_length, "open: tmp buffer"));
    if (!block) return -1;
    if (SYS_ZUncompressEx(block.get(), static_cast<int>(entry->stored_length), &data, &length) != 0) return -1;
  }
  auto unpacked = brisk::OwnMem(data);
  // The block must still announce the size the catalog was mounted with.
  if (static_cast<uint32_t>(length) != entry->size) return Fail(SYS_ERR_ZLIB, -1);
  entry->data = unpacked.release();
  return 0;
}

struct EntryRef {
  SYS_Pack_t *pack;
  SYS_PackEntry_t *entry;
};

void PrepareEntry(SYS_File_t *file, void *context) {
  auto *ref = static_cast<EntryRef *>(context);
  file->handle = ref->pack->archive;
  file->entry = ref->entry;
}

}  // namespace

int PackOpen(SYS_File_t *file) {
  errClear();
  if (!file) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  if (file->flags & (SYS_FILE_CREATE | SYS_FILE_APPEND)) {
    errSetLastError(SYS_ERR_HANDLER);
    return -1;
  }
  auto *archive = static_cast<SYS_File_t *>(file->handle);
  SYS_PackEntry_t *entry = file->entry;
  if (!entry || !archive) {
    auto [pack, found] = FindEntry(file->name);
    if (!found) {
      errSetLastError(SYS_ERR_NOTFOUND);
      return -1;
    }
    archive = pack->archive;
    entry = found;
  }
  if (!entry->data && LoadEntry(archive, entry) != 0) {
    file->handle = nullptr;
    file->entry = nullptr;
    return -1;
  }
  entry->position = 0;
  file->handle = archive;
  file->entry = entry;
  file->size = static_cast<int32_t>(entry->size);
  return 0;
}

int PackSeek(SYS_File_t *file, int offset) {
  errClear();
  SYS_PackEntry_t *entry = file->entry;
  if (!entry) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  // Past the end (a negative offset counts as huge) the position stops at the last byte.
  const auto target = static_cast<uint32_t>(offset);
  entry->position = target > entry->size ? (entry->size ? entry->size - 1 : 0) : target;
  return 0;
}

int PackRead(SYS_File_t *file, void *buffer, int length) {
  errClear();
  SYS_PackEntry_t *entry = file->entry;
  if (!entry || !entry->data) {
    errSetLastError(SYS_ERR_NOTFOUND);
    return -1;
  }
  if (length <= 0) return 0;
  const uint32_t position = std::min(entry->position, entry->size);
  const uint32_t count = std::min(static_cast<uint32_t>(length), entry->size - position);
  if (count) std::memcpy(buffer, static_cast<const uint8_t *>(entry->data) + position, count);
  entry->position = position + count;
  return static_cast<int>(count);
}

char *PackGetStr(SYS_File_t *file, char *buffer, int size) {
  errClear();
  if (!buffer || size <= 0) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  SYS_PackEntry_t *entry = file->entry;
  if (!entry || !entry->data) {
    errSetLastError(SYS_ERR_NOTFOUND);
    return nullptr;
  }
  std::memset(buffer, 0, static_cast<size_t>(size));
  const uint32_t position = std::min(entry->position, entry->size);
  const uint32_t limit = std::min(static_cast<uint32_t>(size - 1), entry->size - position);
  const auto *data = static_cast<const char *>(entry->data) + position;
  // The line keeps its line feed; a zero byte ends the text.
  uint32_t copied = 0;
  while (copied < limit && data[copied] != '\0') {
    buffer[copied] = data[copied];
    if (data[copied++] == '\n') break;
  }
  entry->position = position + copied;
  return copied ? buffer : nullptr;
}

int PackPutStr(SYS_File_t *, const char *) {
  errSetLastError(SYS_ERR_HANDLER);
  return -1;
}

int PackWrite(SYS_File_t *, const void *, int) {
  errSetLastError(SYS_ERR_HANDLER);
  return -1;
}

int PackEof(SYS_File_t *file) {
  errClear();
  return !file->entry || file->entry->position >= file->entry->size;
}

int PackTell(SYS_File_t *file) {
  errClear();
  return file->entry ? static_cast<int>(file->entry->position) : -1;
}

int PackClose(SYS_File_t *file) {
  errClear();
  if (file->entry) SYS_MemFree(file->entry->data);
  return 0;
}

int PackExist(const char *name) {
  errClear();
  if (FindEntry(name).second) return 0;
  errSetLastError(SYS_ERR_NOTFOUND);
  return -1;
}

int PackSize(const char *name) {
  errClear();
  if (SYS_PackEntry_t *entry = FindEntry(name).second) return static_cast<int>(entry->size);
  errSetLastError(SYS_ERR_NOTFOUND);
  return -1;
}

void PackShutdown() {
  for (SYS_List_p node = g_packs; node; node = node->next) ReleasePack(static_cast<SYS_Pack_t *>(node->data));
  if (g_packs) SYS_ListRemove(g_packs);
  g_packs = nullptr;
}

}  // namespace brisk::base::file

using namespace brisk::base::file;

extern "C" int SYS_FilePackOpen_pack(const char *path) {
  errClear();
  if (!path) return Fail(SYS_ERR_ARG, -1);
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0) return Fail(SYS_ERR_NOTFOUND, -1);
  brisk::FilePtr archive(SYS_FileOpen(path, 0));
  if (!archive) return -1;
  uint8_t bytes[kHeaderSize];
  brisk::pack::Header header;
  if (SYS_FileRead(archive.get(), bytes, kHeaderSize) != static_cast<int>(kHeaderSize) ||
      !brisk::pack::ReadHeader(bytes, header))
    return Fail(SYS_ERR_MAGIC, -1);
  SYS_MSG(Level(), "file-pack", "%s\n", path);
  SYS_MSG(Level(), "file-pack", " - number of entries: %d\n", static_cast<int>(header.count));
  SYS_MSG(Level(), "file-pack", " - catalog's offset: %u\n", header.catalog_offset);

  // From here on the pack record owns the archive; ReleasePack closes it.
  std::unique_ptr<SYS_Pack_t, PackRelease> pack(
      static_cast<SYS_Pack_t *>(SYS_MemGet(sizeof(SYS_Pack_t), "pack: tree list")));
  if (!pack) return Fail(SYS_ERR_NOMEM, -1);
  pack->archive = archive.release();
  pack->path = SYS_StrDup(path);
  if (!pack->path) return Fail(SYS_ERR_NOMEM, -1);
  if (ReadCatalog(pack.get(), header.count, header.catalog_offset) != 0) return -1;
  SYS_List_p head = SYS_ListAddFirst(g_packs, pack.get());
  if (!head) return Fail(SYS_ERR_NOMEM, -1);
  pack.release();
  g_packs = head;
  errClear();
  return 0;
}

extern "C" SYS_Pack_t *SYS_FindPack(const char *name) {
  errClear();
  if (SYS_Pack_t *pack = FindEntry(name).first) return pack;
  errSetLastError(SYS_ERR_NOTFOUND);
  return nullptr;
}

extern "C" SYS_List_p SYS_PackGetList(void) { return g_packs; }

extern "C" SYS_File_t *SYS_PackOpenEntry(SYS_Pack_t *pack, int index) {
  errClear();
  bool mounted = false;
  for (SYS_List_p node = g_packs; node && !mounted; node = node->next) mounted = node->data == pack;
  if (!mounted || index < 0 || index >= pack->count) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  EntryRef ref{pack, &pack->entries[index]};
  SYS_MSG(Level(), "file", "opening %s...\n", ref.entry->name);
  return OpenRecord(kPackHandler, ref.entry->name, 0, PrepareEntry, &ref);
}
