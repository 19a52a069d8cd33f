// Whatever bytes arrive are written to a scratch file and read as an Ogg
// Vorbis stream through the file layer: open, whole-stream decode, reads,
// seeks by position and time, tells, close. Nothing may crash, hang or leak.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/base.h"
#include "fuzz/support/fuzz_support.h"
#include "sound/vorbis.h"

namespace {

// Decoded size above which the whole-stream decode is skipped (a forged
// length in the last page may claim gigabytes); the reads below still run.
constexpr int kDecodeLimit = 8 << 20;
constexpr int kReadLimit = 8 << 20;

constexpr const char *kPath = "vorbis_fuzz.ogg";
fuzzsupport::TrackedMemoryCheck g_memory("vorbis_fuzz", 512);

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

// Everything a stream offers, in the order a player uses it; each seek is
// followed by tells, which must hold whether or not the seek succeeded.
void Exercise(Vorbis_t *s) {
  if (s->size > 0 && s->size <= kDecodeLimit) {
    void *pcm = Vorbis_Decode(s);
    SYS_MemFree(pcm);
  }
  Vorbis_Seek(s, 0);
  (void)Vorbis_Tell(s);
  (void)Vorbis_TellTime(s);
  ReadSome(s, kReadLimit);
  (void)Vorbis_Tell(s);
  (void)Vorbis_TellTime(s);
  (void)Vorbis_Size(s);
  Vorbis_Seek(s, s->size > 0 ? s->size / 2 : 0);
  (void)Vorbis_TellTime(s);
  ReadSome(s, 65536);
  Vorbis_SeekTime(s, 250);
  (void)Vorbis_Tell(s);
  (void)Vorbis_TellTime(s);
  ReadSome(s, 65536);
  Vorbis_Close(s);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  SYS_BaseInit(nullptr, 0, nullptr, nullptr);
  std::atexit([] { std::remove(kPath); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (!fuzzsupport::WriteScratch(kPath, data, size)) return 0;
  g_memory.BeforeInput();
  Vorbis_t *s = Vorbis_Open(kPath);
  if (s) Exercise(s);
  g_memory.AfterInput();
  return 0;
}
