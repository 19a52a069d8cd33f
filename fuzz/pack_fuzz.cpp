// Fuzzes the pack archive reader: each input is written to a file, mounted,
// and every entry is opened and read with reads, seeks and line reads. The
// same bytes also go through the bounded block reader on their own.
#include "tests/support/live_memory.h"
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/base.h"
#include "base/file.h"
#include "base/internal.h"
#include "base/zblock.h"

namespace {

std::string g_path;
std::string g_report;
long g_baseline = -1;
unsigned g_runs = 0;

void RemoveFiles() {
  unlink(g_path.c_str());
  unlink(g_report.c_str());
}

// Total bytes the tracked allocator holds, from its own report.
long TrackedBytes() { return brisktest::ReadLiveMemory(g_report.c_str()).bytes; }

bool WriteArchive(const uint8_t *data, size_t size) {
  const int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == size;
}

// Reads an open entry every way the file layer offers.
void Exercise(SYS_File_t *file) {
  char buffer[257];
  while (SYS_FileRead(file, buffer, sizeof buffer) > 0) {
  }
  SYS_FileSeek(file, file->size / 2);
  while (SYS_FileGetStr(file, buffer, 64)) {
  }
  SYS_FileSeek(file, -1);
  SYS_FileRead(file, buffer, 16);
  SYS_FileSeek(file, file->size + 1);
  SYS_FileGetStr(file, buffer, sizeof buffer);
  SYS_FileEof(file);
  SYS_FileTell(file);
  SYS_FileWrite(file, buffer, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  static char name[] = "pack_fuzz";
  static char *args[] = {name, nullptr};
  SYS_BaseInit(nullptr, 1, args, nullptr);
  char path[] = "/tmp/pack-fuzz-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) std::abort();
  close(fd);
  g_path = path;
  g_report = g_path + ".mem";
  std::atexit(RemoveFiles);
  g_baseline = TrackedBytes();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  void *out = nullptr;
  int length = 0;
  if (SYS_ZUncompressEx(data, static_cast<int>(size), &out, &length) == 0) SYS_MemFree(out);

  if (!WriteArchive(data, size)) return 0;
  if (SYS_FilePackOpen_pack(g_path.c_str()) == 0) {
    auto *pack = static_cast<SYS_Pack_t *>(SYS_PackGetList()->data);
    for (int i = 0; i < pack->count; ++i) {
      SYS_FindPack(pack->entries[i].name);
      SYS_File_t *file = SYS_PackOpenEntry(pack, i);
      if (!file) continue;
      // A second open of the same entry shares its data; closing one releases them.
      SYS_File_t *twin = SYS_PackOpenEntry(pack, i);
      Exercise(file);
      SYS_FileClose(file);
      if (twin) {
        Exercise(twin);
        SYS_FileClose(twin);
      }
    }
  }
  brisk::base::FileShutdown();
  // Whatever the input did, nothing of it may stay allocated.
  if (++g_runs % 256 == 0 && TrackedBytes() != g_baseline) {
    std::fprintf(stderr, "pack_fuzz: tracked memory grew from %ld bytes\n", g_baseline);
    std::abort();
  }
  return 0;
}
