// Directory packs: a directory tree mounted as one unit, its files addressed
// by their paths relative to the root. The tree is scanned once at mount.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/file_private.h"
#include "base/list.h"
#include "base/log.h"
#include "base/mem.h"

namespace brisk::base::file {

namespace {

SYS_List_p g_dirpacks = nullptr;  // newest first

using DirId = std::pair<dev_t, ino_t>;

// The first pack (newest first) holding name, with its entry.
std::pair<SYS_DirPack_t *, SYS_DirEntry_t *> FindEntry(const char *name) {
  if (!name) return {nullptr, nullptr};
  for (SYS_List_p node = g_dirpacks; node; node = node->next) {
    auto *pack = static_cast<SYS_DirPack_t *>(node->data);
    for (int i = 0; i < pack->count; ++i)
      if (std::strcmp(pack->entries[i]->name, name) == 0) return {pack, pack->entries[i]};
  }
  return {nullptr, nullptr};
}

// "root/name" as a tracked text (tag "SYS_FileFind"), or null.
char *JoinPath(const SYS_DirPack_t *pack, const char *name) {
  const size_t length = std::strlen(pack->root) + 1 + std::strlen(name) + 1;
  auto *joined = static_cast<char *>(SYS_MemGet(length, "SYS_FileFind"));
  if (joined) std::snprintf(joined, length, "%s/%s", pack->root, name);
  return joined;
}

void ReleasePack(SYS_DirPack_t *pack) {
  for (int i = 0; i < pack->count; ++i) {
    SYS_MemFree(pack->entries[i]->name);
    SYS_MemFree(pack->entries[i]);
  }
  SYS_MemFree(pack->entries);
  SYS_MemFree(pack->root);
  SYS_MemFree(pack);
}

// Scans directory into pack. chain holds the directories being scanned above
// this one, so that a link back to one of them is not followed forever.
int MapDir(const char *root, const char *directory, SYS_DirPack_t *pack, std::vector<DirId> &chain) {
  std::string pattern = std::string(directory) + "/*";
  if (pattern.size() > 4095) pattern.resize(4095);
  SYS_Glob_t *glob = nullptr;
  if (SYS_Glob(pattern.c_str(), &glob) != 0) return -1;
  const size_t root_length = std::strlen(root);
  int result = 0;
  for (int i = 0; i < glob->count && result == 0; ++i) {
    const char *path = glob->names[i];
    struct stat st;
    if (stat(NativePath(path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const DirId id{st.st_dev, st.st_ino};
      bool seen = false;
      for (const DirId &up : chain) seen = seen || up == id;
      if (seen) continue;
      chain.push_back(id);
      result = MapDir(root, path, pack, chain);
      chain.pop_back();
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    // The listed path less the root and the separator that follows it.
    const char *relative = path;
    if (std::strncmp(path, root, root_length) == 0) relative += root_length;
    while (*relative == '/') ++relative;
    auto *entry = static_cast<SYS_DirEntry_t *>(SYS_MemGet(sizeof(SYS_DirEntry_t), "SYS_FileMapDir"));
    char *name = entry ? SYS_StrDup(relative) : nullptr;
    void *grown = name ? SYS_MemRealloc(pack->entries, sizeof(SYS_DirEntry_t *) * (pack->count + 1),
                                        "SYS_FileMapDir: entries")
                       : nullptr;
    if (!grown) {
      SYS_MemFree(name);
      SYS_MemFree(entry);
      errSetLastError(SYS_ERR_NOMEM);
      result = -1;
      break;
    }
    entry->name = name;
    entry->size = st.st_size > INT32_MAX ? -1 : static_cast<int>(st.st_size);
    pack->entries[pack->count++] = entry;
  }
  const int code = errGetLastError();
  SYS_GlobFree(&glob);
  if (code) errSetLastError(code);
  return result;
}

}  // namespace

int DirExist(const char *name) {
  errClear();
  return FindEntry(name).second ? 0 : -1;
}

void DirShutdown() {
  for (SYS_List_p node = g_dirpacks; node; node = node->next) ReleasePack(static_cast<SYS_DirPack_t *>(node->data));
  if (g_dirpacks) SYS_ListRemove(g_dirpacks);
  g_dirpacks = nullptr;
}

}  // namespace brisk::base::file

using namespace brisk::base::file;

extern "C" int SYS_FilePackOpen_dir(const char *path) {
  if (!path) return -1;
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  for (SYS_List_p node = g_dirpacks; node; node = node->next)
    if (std::strcmp(static_cast<SYS_DirPack_t *>(node->data)->root, path) == 0) return 0;
  SYS_MSG(Level(), "file-dir", "open new pack: %s\n", path);
  auto *pack = static_cast<SYS_DirPack_t *>(SYS_MemGet(sizeof(SYS_DirPack_t), "SYS_FilePackOpen_dir"));
  if (!pack || !(pack->root = SYS_StrDup(path))) {
    SYS_MemFree(pack);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  if (SYS_FileMapDir(path, path, pack) != 0) {
    ReleasePack(pack);
    return -1;
  }
  SYS_List_p head = SYS_ListAddFirst(g_dirpacks, pack);
  if (!head) {
    ReleasePack(pack);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  g_dirpacks = head;
  return 0;
}

extern "C" int SYS_FileMapDir(const char *root, const char *directory, SYS_DirPack_t *pack) {
  if (!root || !directory || !pack) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  std::vector<DirId> chain;
  struct stat st;
  if (stat(NativePath(directory).c_str(), &st) == 0) chain.emplace_back(st.st_dev, st.st_ino);
  return MapDir(root, directory, pack, chain);
}

extern "C" int SYS_FileOpen_dir(SYS_File_t *file) {
  if (!file || !file->name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  auto [pack, entry] = FindEntry(file->name);
  if (!entry) {
    errClear();
    errSetLastError(SYS_ERR_NOTFOUND);
    return -1;
  }
  char *joined = JoinPath(pack, entry->name);
  errClear();
  if (!joined) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  SYS_MSG(Level(), "file-dir", "[SYS_FileOpen_dir] open : %s -> %s\n", file->name, joined);
  // Opened exactly as a plain file of the joined path, under the caller's name.
  char *name = file->name;
  file->name = joined;
  const int result = SYS_FileOpen_reg(file);
  file->name = name;
  SYS_MemFree(joined);
  return result;
}

extern "C" int SYS_FileFind(const char *name) {
  auto [pack, entry] = FindEntry(name);
  if (!entry) return -1;
  char *joined = JoinPath(pack, entry->name);
  if (!joined) return -1;
  struct stat st;
  const int size = stat(NativePath(joined).c_str(), &st) == 0 && st.st_size <= INT32_MAX ? static_cast<int>(st.st_size) : -1;
  SYS_MemFree(joined);
  return size;
}
