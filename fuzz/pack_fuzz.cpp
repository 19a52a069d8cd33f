// Fuzzes the pack archive reader: each input is written to a file, mounted,
// and every entry is opened and read with reads, seeks and line reads. The
// same bytes also go through the bounded block reader on their own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/base.h"
#include "fuzz/support/fuzz_support.h"
#include "base/file.h"
#include "base/internal.h"
#include "base/zblock.h"

namespace {

constexpr const char *kPath = "pack_fuzz.pack";
fuzzsupport::TrackedMemoryCheck g_memory("pack_fuzz", 256);

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
  std::atexit([] { std::remove(kPath); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  g_memory.BeforeInput();
  void *out = nullptr;
  int length = 0;
  if (SYS_ZUncompressEx(data, static_cast<int>(size), &out, &length) == 0) SYS_MemFree(out);

  if (!fuzzsupport::WriteScratch(kPath, data, size)) return 0;
  if (SYS_FilePackOpen_pack(kPath) == 0) {
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
  g_memory.AfterInput();
  return 0;
}
