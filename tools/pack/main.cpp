// pack: makes and inspects pack archives with the framework's own code, so
// that a show's data can be shipped as one file.
//
//   pack create [--level N] ARCHIVE INPUT...   directories and files into one archive
//   pack list ARCHIVE                          name, stored size, size, compressed or not
//   pack extract [--into DIR] ARCHIVE [NAME...]
//   pack verify ARCHIVE
//
// Archives are read through the file layer's own mount and entry reads, and
// blocks are made by its block layer; directory trees are scanned the way a
// directory pack scans them, so entry names are the names a directory pack
// would answer to.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/base.h"
#include "base/file.h"
#include "base/pack_format.h"
#include "base/reader.h"
#include "base/zblock.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // bad archive, missing input, verification failed
constexpr int kExitUsage = 2;   // the command line itself is wrong

constexpr const char *kUsage =
    "usage: pack COMMAND ...\n"
    "\n"
    "Makes and inspects pack archives (the data files a show mounts).\n"
    "\n"
    "commands:\n"
    "  create [--level N] ARCHIVE INPUT...\n"
    "      Packs files and directory trees into ARCHIVE. A directory adds every\n"
    "      file below it, named by its path relative to that directory (\"/\"-\n"
    "      separated); a file is added under its own file name. Entries are in\n"
    "      byte order of their names, each compressed (level N, 0..9, default 9)\n"
    "      only when that makes it smaller, so the same input gives the same bytes.\n"
    "  list ARCHIVE\n"
    "      Lists every entry: stored size, size, compressed or stored, name.\n"
    "  extract [--into DIR] ARCHIVE [NAME...]\n"
    "      Writes every entry, or the named ones, below DIR (default: the current\n"
    "      directory). Names that would leave DIR are refused.\n"
    "  verify ARCHIVE\n"
    "      Checks that the catalog fits the file, every block's checksum, and that\n"
    "      every entry uncompresses to its announced size.\n"
    "\n"
    "exit status: 0 done, 1 a bad archive, a missing input or a failed check,\n"
    "2 a wrong command line.\n";

void Fail(const std::string &what) { std::fprintf(stderr, "pack: %s\n", what.c_str()); }

int Usage(const std::string &what) {
  Fail(what);
  std::fputs("Try 'pack --help'.\n", stderr);
  return kExitUsage;
}

// Entry names come from untrusted archives: control bytes are shown escaped.
std::string Printable(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string MountError(int code) {
  switch (code) {
    case SYS_ERR_NOTFOUND: return "no such file";
    case SYS_ERR_NOMEM: return "out of memory";
    case SYS_ERR_ZLIB: return "the catalog cannot be uncompressed";
    case SYS_ERR_MAGIC: return "not a pack archive, or its catalog does not fit the file";
    default: return "cannot be opened";
  }
}

// Mounts path as an archive (never as a directory); the pack, or null with a message.
SYS_Pack_t *Mount(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Fail(path + ": is a directory, not a pack archive");
    return nullptr;
  }
  if (SYS_FilePackOpen_pack(path.c_str()) != 0) {
    const int code = errGetLastError();
    Fail(path + ": " + MountError(code));
    return nullptr;
  }
  return static_cast<SYS_Pack_t *>(SYS_PackGetList()->data);
}

// The whole contents of entry index, or false with a message.
bool ReadEntry(SYS_Pack_t *pack, int index, std::vector<uint8_t> &out) {
  const SYS_PackEntry_t &entry = pack->entries[index];
  SYS_File_t *file = SYS_PackOpenEntry(pack, index);
  if (!file) {
    const int code = errGetLastError();
    Fail(pack->path + std::string(": ") + Printable(entry.name) + ": cannot be read (" +
         (code == SYS_ERR_ZLIB ? "its block is broken or does not hold its announced size" : "error " + std::to_string(code)) +
         ")");
    return false;
  }
  out.assign(entry.size, 0);
  const int got = SYS_FileRead(file, out.data(), static_cast<int>(out.size()));
  SYS_FileClose(file);
  if (got != static_cast<int>(entry.size)) {
    Fail(pack->path + std::string(": ") + Printable(entry.name) + ": short read");
    return false;
  }
  return true;
}

// --- create ------------------------------------------------------------------

struct Input {
  std::string name;  // entry name
  std::string path;  // file on disk
};

bool SameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Every file below root, named as a directory pack rooted there names it.
bool ScanTree(const std::string &root, std::vector<Input> &inputs) {
  SYS_DirPack_t tree{};
  const bool scanned = SYS_FileMapDir(root.c_str(), root.c_str(), &tree) == 0;
  for (int i = 0; i < tree.count; ++i) {
    if (scanned) inputs.push_back({tree.entries[i]->name, root + "/" + tree.entries[i]->name});
    SYS_MemFree(tree.entries[i]->name);
    SYS_MemFree(tree.entries[i]);
  }
  SYS_MemFree(tree.entries);
  if (!scanned) Fail(root + ": cannot be scanned");
  return scanned;
}

bool ReadDiskFile(const std::string &path, std::vector<uint8_t> &out) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    Fail(path + ": " + std::strerror(errno));
    return false;
  }
  out.clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out.insert(out.end(), chunk, chunk + got);
    if (out.size() > static_cast<size_t>(INT32_MAX)) break;
  }
  const bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) {
    Fail(path + ": read error");
    return false;
  }
  if (out.size() > static_cast<size_t>(INT32_MAX)) {
    Fail(path + ": larger than 2 GiB, too large for an archive entry");
    return false;
  }
  return true;
}

int Create(const std::vector<std::string> &args) {
  unsigned level = 9;
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--level") {
      if (i + 1 >= args.size()) return Usage("--level needs a value 0..9");
      const std::string &v = args[++i];
      if (v.size() != 1 || v[0] < '0' || v[0] > '9') return Usage("--level needs a value 0..9, not '" + v + "'");
      level = static_cast<unsigned>(v[0] - '0');
    } else if (args[i] == "--") {
      ++i;
      break;
    } else {
      return Usage("create: unknown option " + args[i]);
    }
  }
  if (i + 2 > args.size()) return Usage("create needs an archive name and at least one input");
  const std::string archive = args[i++];
  SYS_ZSetCompLevel(level);

  struct stat archive_st{};
  const bool archive_exists = stat(archive.c_str(), &archive_st) == 0;
  std::vector<Input> inputs;
  for (; i < args.size(); ++i) {
    std::string path = args[i];
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      Fail(path + ": " + std::strerror(errno));
      return kExitFailed;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!ScanTree(path, inputs)) return kExitFailed;
    } else if (S_ISREG(st.st_mode)) {
      inputs.push_back({fs::path(path).filename().string(), path});
    } else {
      Fail(path + ": neither a file nor a directory");
      return kExitFailed;
    }
  }
  // An old archive of the same name inside an input tree is not packed into the new one.
  if (archive_exists) {
    std::erase_if(inputs, [&](const Input &in) {
      struct stat st;
      return stat(in.path.c_str(), &st) == 0 && SameFile(st, archive_st);
    });
  }
  if (inputs.empty()) {
    Fail("nothing to pack: the inputs hold no files");
    return kExitFailed;
  }
  std::sort(inputs.begin(), inputs.end(), [](const Input &a, const Input &b) { return a.name < b.name; });
  for (size_t k = 1; k < inputs.size(); ++k) {
    if (inputs[k].name == inputs[k - 1].name) {
      Fail("two inputs give the entry name '" + inputs[k].name + "': " + inputs[k - 1].path + " and " + inputs[k].path);
      return kExitFailed;
    }
  }

  // Entry data follow the 12-byte header in name order; the catalog block ends the file.
  const std::string temp = archive + ".tmp-" + std::to_string(getpid());
  FILE *out = std::fopen(temp.c_str(), "wb");
  if (!out) {
    Fail(archive + ": cannot be created: " + std::strerror(errno));
    return kExitFailed;
  }
  auto abandon = [&](const std::string &what) {
    Fail(what);
    std::fclose(out);
    std::remove(temp.c_str());
    return kExitFailed;
  };
  // The catalog offset is filled in at the end.
  const std::string header = brisk::pack::HeaderBytes({static_cast<uint32_t>(inputs.size()), 0});
  std::fwrite(header.data(), 1, header.size(), out);
  uint64_t offset = header.size();
  std::string catalog;
  std::vector<uint8_t> data;
  for (const Input &in : inputs) {
    if (in.name.size() > 0xFFFF) return abandon(in.path + ": entry name longer than 65535 bytes");
    if (!ReadDiskFile(in.path, data)) return abandon(archive + ": not created");
    const void *bytes = data.data();
    size_t stored = data.size();
    uint8_t flags = 0;
    void *block = nullptr;
    int block_length = 0;
    if (!data.empty() && SYS_ZCompress(data.data(), static_cast<int>(data.size()), &block, &block_length) == 0 &&
        static_cast<size_t>(block_length) < data.size()) {
      bytes = block;
      stored = static_cast<size_t>(block_length);
      flags = SYS_PACK_COMPRESSED;
    }
    const bool written = stored == 0 || std::fwrite(bytes, 1, stored, out) == stored;
    SYS_MemFree(block);
    if (!written) return abandon(archive + ": write error");
    if (offset + stored > static_cast<uint64_t>(INT32_MAX))
      return abandon(archive + ": would be larger than 2 GiB, too large for an archive");
    brisk::pack::PutRecord(catalog, static_cast<uint32_t>(stored), static_cast<uint32_t>(offset), flags, in.name);
    offset += stored;
  }
  void *block = nullptr;
  int block_length = 0;
  if (SYS_ZCompress(catalog.data(), static_cast<int>(catalog.size()), &block, &block_length) != 0)
    return abandon(archive + ": the catalog cannot be compressed");
  const bool written = std::fwrite(block, 1, static_cast<size_t>(block_length), out) == static_cast<size_t>(block_length);
  SYS_MemFree(block);
  if (!written || offset + static_cast<uint64_t>(block_length) > static_cast<uint64_t>(INT32_MAX))
    return abandon(archive + ": write error");
  std::string catalog_offset;
  brisk::pack::PutLe(catalog_offset, static_cast<uint32_t>(offset), 4);
  if (std::fseek(out, brisk::pack::kCatalogOffsetField, SEEK_SET) != 0 || std::fwrite(catalog_offset.data(), 1, 4, out) != 4)
    return abandon(archive + ": write error");
  if (std::fclose(out) != 0) {
    std::remove(temp.c_str());
    Fail(archive + ": write error");
    return kExitFailed;
  }
  if (std::rename(temp.c_str(), archive.c_str()) != 0) {
    Fail(archive + ": cannot be created: " + std::strerror(errno));
    std::remove(temp.c_str());
    return kExitFailed;
  }
  std::printf("%s: %zu %s, %llu bytes\n", archive.c_str(), inputs.size(), inputs.size() == 1 ? "entry" : "entries",
              static_cast<unsigned long long>(offset + static_cast<uint64_t>(block_length)));
  return kExitOk;
}

// --- list --------------------------------------------------------------------

int List(const std::vector<std::string> &args) {
  if (args.size() != 1) return Usage("list needs exactly one archive");
  SYS_Pack_t *pack = Mount(args[0]);
  if (!pack) return kExitFailed;
  std::printf("%10s %10s  %-10s  %s\n", "stored", "size", "kind", "name");
  uint64_t stored = 0, size = 0;
  for (int i = 0; i < pack->count; ++i) {
    const SYS_PackEntry_t &e = pack->entries[i];
    std::printf("%10u %10u  %-10s  %s\n", e.stored_length, e.size,
                (e.flags & SYS_PACK_COMPRESSED) ? "compressed" : "stored", Printable(e.name).c_str());
    stored += e.stored_length;
    size += e.size;
  }
  std::printf("%10llu %10llu  %d %s\n", static_cast<unsigned long long>(stored),
              static_cast<unsigned long long>(size), pack->count, pack->count == 1 ? "entry" : "entries");
  return kExitOk;
}

// --- extract -----------------------------------------------------------------

// A name that stays below the target directory: relative, no empty, "." or ".." parts.
bool SafeName(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

int Extract(const std::vector<std::string> &args) {
  std::string into = ".";
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--into") {
      if (i + 1 >= args.size()) return Usage("--into needs a directory");
      into = args[++i];
    } else if (args[i] == "--") {
      ++i;
      break;
    } else {
      return Usage("extract: unknown option " + args[i]);
    }
  }
  if (i >= args.size()) return Usage("extract needs an archive");
  SYS_Pack_t *pack = Mount(args[i++]);
  if (!pack) return kExitFailed;

  // The entries to write: all, or the first of each named one (the one the file layer serves).
  std::vector<int> chosen;
  bool failed = false;
  if (i == args.size()) {
    for (int k = 0; k < pack->count; ++k) chosen.push_back(k);
  } else {
    for (; i < args.size(); ++i) {
      int found = -1;
      for (int k = 0; k < pack->count && found < 0; ++k)
        if (args[i] == pack->entries[k].name) found = k;
      if (found < 0) {
        Fail(args[i] + ": no such entry in " + pack->path);
        failed = true;
      } else {
        chosen.push_back(found);
      }
    }
  }
  std::vector<uint8_t> data;
  for (int index : chosen) {
    const SYS_PackEntry_t &e = pack->entries[index];
    const std::string_view name(e.name);
    if (!SafeName(name) || name.size() != std::strlen(e.name)) {
      Fail(Printable(name) + ": refused, the name would leave the target directory");
      failed = true;
      continue;
    }
    if (!ReadEntry(pack, index, data)) {
      failed = true;
      continue;
    }
    const fs::path target = fs::path(into) / std::string(name);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    FILE *out = std::fopen(target.c_str(), "wb");
    if (!out) {
      Fail(target.string() + ": " + std::strerror(errno));
      failed = true;
      continue;
    }
    const bool written = data.empty() || std::fwrite(data.data(), 1, data.size(), out) == data.size();
    if (std::fclose(out) != 0 || !written) {
      Fail(target.string() + ": write error");
      failed = true;
    }
  }
  return failed ? kExitFailed : kExitOk;
}

// --- verify ------------------------------------------------------------------

// Checks a block's CRC field against its stream; the block lies in bytes.
bool BlockCrcMatches(std::span<const uint8_t> bytes) {
  brisk::ByteReader r(bytes);
  r.u32le();
  const uint32_t stream = r.u32le();
  const uint32_t crc = r.u32le();
  const auto body = r.bytes(stream);
  if (r.failed()) return false;
  return stream == 0 ? crc == 0 : SYS_ZCrc32(body.data(), static_cast<int>(body.size())) == crc;
}

int Verify(const std::vector<std::string> &args) {
  if (args.size() != 1) return Usage("verify needs exactly one archive");
  const std::string &path = args[0];
  SYS_Pack_t *pack = Mount(path);
  if (!pack) return kExitFailed;
  int problems = 0;
  auto problem = [&](const std::string &what) {
    Fail(path + ": " + what);
    ++problems;
  };

  // The raw archive, for the checks the mount leaves out.
  std::vector<uint8_t> raw;
  if (!ReadDiskFile(path, raw)) return kExitFailed;
  brisk::pack::Header header;
  const bool read = brisk::pack::ReadHeader(raw, header);
  const uint32_t catalog_offset = header.catalog_offset;
  if (!read || catalog_offset < brisk::pack::kHeaderSize || catalog_offset >= raw.size()) {
    Fail(path + ": changed while it was read");
    return kExitFailed;
  }
  const std::span<const uint8_t> catalog_block(raw.data() + catalog_offset, raw.size() - catalog_offset);
  if (!BlockCrcMatches(catalog_block)) problem("the catalog's checksum does not match");
  void *catalog = nullptr;
  int catalog_length = 0;
  if (SYS_ZUncompressEx(catalog_block.data(), static_cast<int>(catalog_block.size()), &catalog, &catalog_length) == 0) {
    brisk::ByteReader records(catalog, static_cast<size_t>(catalog_length));
    for (int k = 0; k < pack->count; ++k) brisk::pack::ReadRecord(records);
    if (records.remaining() > 0)
      problem("the catalog holds " + std::to_string(records.remaining()) + " bytes after its last record");
    SYS_MemFree(catalog);
  }

  std::set<std::string> names;
  std::vector<uint8_t> data;
  uint64_t total = 0;
  for (int k = 0; k < pack->count; ++k) {
    const SYS_PackEntry_t &e = pack->entries[k];
    const std::string name = Printable(e.name);
    if (!names.insert(e.name).second) Fail(path + ": warning: " + name + ": a second entry of this name is never served");
    const bool inside = static_cast<uint64_t>(e.offset) + e.stored_length <= raw.size();
    if (e.offset < brisk::pack::kHeaderSize || static_cast<uint64_t>(e.offset) + e.stored_length > catalog_offset)
      problem(name + ": its data overlap the header or the catalog");
    if (inside && (e.flags & SYS_PACK_COMPRESSED) &&
        !BlockCrcMatches(std::span<const uint8_t>(raw.data() + e.offset, e.stored_length)))
      problem(name + ": the block's checksum does not match");
    if (!ReadEntry(pack, k, data))
      ++problems;
    else
      total += data.size();
  }
  if (problems) {
    std::fprintf(stderr, "pack: %s: %d problem(s) found\n", path.c_str(), problems);
    return kExitFailed;
  }
  std::printf("%s: ok, %d %s, %llu bytes\n", path.c_str(), pack->count, pack->count == 1 ? "entry" : "entries",
              static_cast<unsigned long long>(total));
  return kExitOk;
}

int Run(const std::vector<std::string> &args) {
  if (args.empty()) return Usage("no command given");
  const std::string &command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string &a : rest) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
  }
  if (command == "create") return Create(rest);
  if (command == "list") return List(rest);
  if (command == "extract") return Extract(rest);
  if (command == "verify") return Verify(rest);
  return Usage("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char **argv) {
  // Only the program name reaches the framework: archive and file names must
  // never be taken for its switches.
  SYS_BaseInit(nullptr, argc > 0 ? 1 : 0, argv, nullptr);
  const int result = Run(std::vector<std::string>(argv + 1, argv + argc));
  std::fflush(stdout);
  SYS_BaseDone();
  return result;
}
