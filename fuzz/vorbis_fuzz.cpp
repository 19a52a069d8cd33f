// Whatever bytes arrive are written to a temporary file and read as an Ogg
// Vorbis stream through the file layer: open, whole-stream decode, reads,
// seeks by position and time, tells, close. Nothing may crash, hang or leak.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/base.h"
#include "sound/vorbis.h"

namespace {

// Decoded size above which the whole-stream decode is skipped (a forged
// length in the last page may claim gigabytes); the reads below still run.
constexpr int kDecodeLimit = 8 << 20;
constexpr int kReadLimit = 8 << 20;

const std::string &TempPath() {
  static const std::string path = [] {
    const char *dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/vorbis_fuzz_" + std::to_string(getpid()) + ".ogg";
  }();
  return path;
}

void ReadSome(Vorbis_t *s, int limit) {
  char buffer[4096];
  int total = 0;
  for (int guard = 0; total < limit && guard < 100000; ++guard) {
    const int got = Vorbis_Read(s, buffer, sizeof buffer);
    if (got == -3) continue;  // a hole: reading resumes after it
    if (got <= 0) break;
    total += got;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool started = [] {
    SYS_BaseInit(nullptr, 0, nullptr, nullptr);
    std::atexit([] { std::remove(TempPath().c_str()); });
    return true;
  }();
  (void)started;
  const std::string &path = TempPath();
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  Vorbis_t *s = Vorbis_Open(path.c_str());
  if (!s) return 0;
  if (s->size > 0 && s->size <= kDecodeLimit) {
    void *pcm = Vorbis_Decode(s);
    SYS_MemFree(pcm);
  }
  Vorbis_Seek(s, 0);
  ReadSome(s, kReadLimit);
  (void)Vorbis_Tell(s);
  (void)Vorbis_TellTime(s);
  (void)Vorbis_Size(s);
  const int middle = s->size > 0 ? s->size / 2 : 0;
  Vorbis_Seek(s, middle);
  ReadSome(s, 65536);
  Vorbis_SeekTime(s, 250);
  ReadSome(s, 65536);
  Vorbis_Close(s);
  return 0;
}
