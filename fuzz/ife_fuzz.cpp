// Whatever bytes arrive are written to a scratch file and parsed as an
// interface through the file layer, with a texture resolver that needs no
// GL; every layer of an interface that parses is then played through the key
// search and easing at times around its keys. Nothing may crash, hang or
// leak, a refusal must say why, and no drawn value may be infinite or NaN.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/base.h"
#include "fuzz/support/fuzz_support.h"
#include "runtime/ife_frame.h"
#include "runtime/ife_parse.h"

namespace {

constexpr const char *kPath = "ife_fuzz.ife";
fuzzsupport::TrackedMemoryCheck g_memory("ife_fuzz", 512);

// Keys of a layer that are played (the key search is linear; a few suffice).
constexpr std::int32_t kPlayedKeys = 8;

std::int32_t Resolve(const ShortString &image, const ShortString &prefix) {
  std::int32_t texture = 0;
  if (IfeSpecialTexture(image.view(), &texture)) return texture;
  return static_cast<std::int32_t>(IfeTexturePath(prefix, image).size()) + 1;
}

void Play(const ife_layer &layer, float t) {
  IfeFrame frame;
  if (!IfeLayerFrame(layer, t, &frame)) return;
  for (float v : {frame.x, frame.y, frame.angle, frame.width, frame.height, frame.red, frame.green, frame.blue,
                  frame.alpha})
    if (!std::isfinite(v)) {
      std::fprintf(stderr, "ife_fuzz: a layer at t = %g gives a value that is not finite\n", t);
      std::abort();
    }
}

void PlayLayers(const ife_interface &record) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  for (std::int32_t i = 0; i < record.layerCount; ++i) {
    const ife_layer &layer = record.layers[i];
    for (float t : {-kInf, -1e9f, 0.0f, 0.5f, 1e9f, kInf, std::nanf("")}) Play(layer, t);
    for (std::int32_t k = 0; k < layer.keyCount && k < kPlayedKeys; ++k) {
      const float at = static_cast<float>(layer.keys[k].time);
      Play(layer, at);
      Play(layer, at + 0.5f);
      Play(layer, at - 0.5f);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  SYS_BaseInit(nullptr, 0, nullptr, nullptr);
  for (int i = 0; i < 8; ++i) ifeBufTextures[i] = 100 + i;
  ifeRenderTarget = 200;
  ifeGlowTexture = 300;
  std::atexit([] { std::remove(kPath); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (!fuzzsupport::WriteScratch(kPath, data, size)) return 0;
  g_memory.BeforeInput();
  if (SYS_File_t *file = SYS_FileOpen(kPath, SYS_FILE_TEXT)) {
    ife_interface record{};
    std::string error;
    if (IfeParse(file, kPath, ShortString("textures"), Resolve, &record, &error)) {
      PlayLayers(record);
      IfeFree(&record);
    } else if (error.empty()) {
      std::fprintf(stderr, "ife_fuzz: a refusal without a message\n");
      std::abort();
    }
    SYS_FileClose(file);
  }
  g_memory.AfterInput();
  return 0;
}
