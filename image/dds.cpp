// DDS input filter: DXT1/3/5 images with their mipmap levels.
#include <cstring>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_dxt.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kHeader = 128;

}  // namespace

extern "C" int ddsIdentify(const unsigned char *p, int size) {
  return p && size >= 4 && std::memcmp(p, "DDS ", 4) == 0 ? 0 : -1;
}

extern "C" txBitmap *ddsRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, kHeader);
  if (in.failed()) return nullptr;
  const size_t total = in.remaining();
  in.skip(12);  // magic, header size, flags
  const uint32_t height = in.u32le();
  const uint32_t width = in.u32le();
  in.skip(8);  // pitch, depth
  const uint32_t count = std::max<uint32_t>(in.u32le(), 1);
  in.skip(52);  // reserved words, pixel format size and flags
  const uint32_t fourcc = in.u32le();
  in.skip(kHeader - in.position());  // rest of the pixel format, capabilities
  const BlockFormat fmt = BlockFormatOf(fourcc);
  if (!PixelBytes(width, height, 4)) return brisk::Fail(TX_ERR_SHORT, nullptr);

  BitmapPtr b(TL_NEW_BITMAP("ddsRead: struct"));
  if (!b) return nullptr;
  b->fourcc = static_cast<int>(fourcc);
  b->bpp = fmt.bpp;
  TL_DEBUG("TL][dds", "DDS: %s\n", LoadingName());
  TL_DEBUG("TL][dds", " size: %dx%d bits: %d (%s)\n", static_cast<int>(width), static_cast<int>(height), b->bpp,
           fmt.name);
  TL_DEBUG("TL][dds", " mipmap level: %d\n", static_cast<int>(count));
  TL_DEBUG("TL][dds", " size: %d\n", static_cast<int>(total - kHeader));

  // Levels the file can hold before both sides reach 0.
  int walkable = 0;
  for (uint32_t w = width, h = height; walkable < static_cast<int>(std::min<uint32_t>(count, 64)) && (w || h);
       w >>= 1, h >>= 1)
    ++walkable;
  const int skip = LevelsToSkip(walkable);
  const bool decode = !fmt.keep && fmt.decode;
  TL_DEBUG("TL][dds", " decode: %s\n", decode ? "yes" : "no");

  b->order = decode ? TX_ORDER_RGB : TX_ORDER_DXT;
  b->format = decode ? fmt.decodedFormat : fmt.keptFormat;
  b->width = static_cast<int>(std::max<uint32_t>(width >> skip, 1));
  b->height = static_cast<int>(std::max<uint32_t>(height >> skip, 1));

  int kept = 0;
  uint32_t w = width, h = height;
  for (int level = 0; level < walkable && kept < TX_MAX_LEVELS; ++level, w >>= 1, h >>= 1) {
    const int64_t bytes = LevelBlockBytes(w, h, fmt.blockBytes);
    auto blocks = in.bytes(static_cast<size_t>(bytes));
    if (!in.ok()) return brisk::Fail(TX_ERR_SHORT, nullptr);
    if (level < skip) continue;
    if (decode) {
      const int64_t out = LevelPixelBytes(w, h, fmt.bpp);
      b->image[kept] = static_cast<unsigned char *>(SYS_MemGet(out, "ddsRead: bitmap (mipmap, decompress)"));
      if (!b->image[kept]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
      b->imageSize[kept] = static_cast<unsigned>(out);
      fmt.decode(blocks.data(), b->image[kept], static_cast<int>(std::max<uint32_t>(w, 1)),
                 static_cast<int>(std::max<uint32_t>(h, 1)), fmt.bpp);
    } else {
      b->image[kept] = static_cast<unsigned char *>(SYS_MemGet(bytes, "ddsRead: bitmap (mipmap)"));
      if (!b->image[kept]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
      b->imageSize[kept] = static_cast<unsigned>(bytes);
      std::memcpy(b->image[kept], blocks.data(), blocks.size());
    }
    ++kept;
  }
  b->levels = kept;
  return b.release();
}
