// Fuzzes the image loader: each input is served to txLoad from memory, as an
// exact-size tracked buffer, through the loader's replaceable file callbacks,
// so every filter's recognition test and reader sees it. It is loaded twice,
// with DXT blocks decoded and kept, with the post-processing on (alpha map
// lookup, channel swap, flip, and a texture quality taken from the input's
// size); a record that comes back goes through a copy, a conversion and a
// shrink. Tracked memory must come back to where it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "base/base.h"
#include "fuzz/support/fuzz_support.h"
#include "image/image.h"

namespace {

const uint8_t *g_data = nullptr;
size_t g_size = 0;
bool g_open = false;
fuzzsupport::TrackedMemoryCheck g_memory("image_fuzz", 512);

// The input answers to one name only; the alpha map and everything else is missing.
constexpr const char *kName = "fuzz.img";

int Open(const char *name) {
  g_open = std::strcmp(name, kName) == 0;
  if (!g_open) errSetLastError(1);
  return g_open ? 0 : -1;
}
void *Read() {
  void *p = SYS_MemGet(g_size ? g_size : 1, "fuzz input");
  if (p && g_size) std::memcpy(p, g_data, g_size);
  if (!p) errSetLastError(5);
  return p;
}
int Size() { return static_cast<int>(g_size); }
int Close() {
  g_open = false;
  return 0;
}
int Exist(const char *name) { return std::strcmp(name, kName) == 0 ? 0 : -1; }

void Exercise(txBitmap *b) {
  // Big pictures only cost time here; their reading has been done.
  if (b->imageSize[0] > (1u << 22)) {
    txFree(&b);
    return;
  }
  if (txBitmap *copy = txDup(b)) txFree(&copy);
  tx24to32(b);
  txScale(b, b->width / 2 + 1, b->height / 3 + 1);
  if (txBitmap *grey = txIntensity(b, 1)) txFree(&grey);
  txFree(&b);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  static char name[] = "image_fuzz";
  static char *args[] = {name, nullptr};
  SYS_BaseInit(nullptr, 1, args, nullptr);
  static txFunctions functions{Open, Read, Size, Close, Exist};
  txInit(&functions);
  txOptions(3, 1);  // red first wanted: order-0 images are swapped
  txOptions(4, 1);  // flip
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 24)) return 0;
  g_data = data;
  g_size = size;
  g_memory.BeforeInput();
  txOptions(2, static_cast<int>(size % 3));
  // Only block images read differently with their blocks kept.
  const bool blocks = size >= 4 && (std::memcmp(data, "DDS ", 4) == 0 || std::memcmp(data, "DDZ ", 4) == 0 ||
                                    std::memcmp(data, "FTX ", 4) == 0);
  for (int keep = 0; keep <= (blocks ? 1 : 0); ++keep) {
    txOptions(33776, keep);
    txOptions(33778, keep);
    txOptions(33779, keep);
    txOptions(0, keep);
    if (txBitmap *b = txLoad(kName)) Exercise(b);
  }
  g_memory.AfterInput();
  return 0;
}
