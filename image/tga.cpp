// Targa filter: uncompressed true colour, colour-mapped and grey images.
#include <cstring>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kHeader = 18;

}  // namespace

extern "C" int tgaIdentify(const unsigned char *p, int size) {
  if (!p || size < 8) return -1;
  static constexpr unsigned char trueColour[] = {0, 2, 0, 0, 0, 0, 0};
  static constexpr unsigned char mapped[] = {1, 1, 0, 0, 0};
  static constexpr unsigned char grey[] = {0, 3, 0, 0, 0, 0, 0};
  if (std::memcmp(p + 1, trueColour, 7) == 0 || std::memcmp(p + 1, mapped, 5) == 0 ||
      std::memcmp(p + 1, grey, 7) == 0)
    return 0;
  return -1;
}

extern "C" txBitmap *tgaRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, kHeader);
  if (in.failed()) return nullptr;
  const uint8_t idLength = in.u8();
  in.skip(4);  // map type, image type, first map index
  const uint16_t mapLength = in.u16le();
  const uint8_t mapEntryBits = in.u8();
  in.skip(4);  // origin
  const int width = ReadI16(in);
  const int height = ReadI16(in);
  const int depth = in.u8();
  const uint8_t descriptor = in.u8();

  // Only whole-byte depths describe rows that the data can be checked against;
  // colour-mapped images hold one byte per pixel.
  if (depth != 8 && depth != 16 && depth != 24 && depth != 32) return brisk::Fail(TX_ERR_SHORT, nullptr);
  if (mapLength != 0 && depth != 8) return brisk::Fail(TX_ERR_SHORT, nullptr);
  auto bytes = PixelBytes(width, height, depth / 8);
  if (!bytes) return brisk::Fail(TX_ERR_SHORT, nullptr);

  BitmapPtr b(TL_NEW_BITMAP("tgaRead: struct"));
  if (!b) return nullptr;
  b->width = width;
  b->height = height;
  b->bpp = depth;
  b->order = TX_ORDER_BGR;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->format = FormatOfDepth(depth, mapLength != 0);

  in.skip(idLength);
  if (mapLength != 0) {
    // Up to 256 entries of 24 (blue, green, red) or 32 bits (blue, green, red,
    // alpha) are taken into the palette as red, green, blue; the whole map is
    // stepped over whatever its entry size, so the pixels are found.
    b->palette = static_cast<unsigned char *>(SYS_MemGet(256 * 4, "tgaRead: palette"));
    if (!b->palette) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    const size_t entryBytes = (mapEntryBits + 7u) / 8u;
    auto map = in.bytes(entryBytes * mapLength);
    if (!in.ok()) return brisk::Fail(TX_ERR_SHORT, nullptr);
    if (mapEntryBits == 24 || mapEntryBits == 32) {
      for (size_t i = 0; i < mapLength && i < 256; ++i) {
        const unsigned char *e = map.data() + i * entryBytes;
        b->palette[4 * i] = e[2];
        b->palette[4 * i + 1] = e[1];
        b->palette[4 * i + 2] = e[0];
      }
    }
    auto indices = in.bytes(static_cast<size_t>(*bytes));
    if (!in.ok()) return brisk::Fail(TX_ERR_SHORT, nullptr);
    const size_t count = indices.size();
    b->image[0] = static_cast<unsigned char *>(SYS_MemGet(count * 3, "tgaRead: bitmap"));
    if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    txExpandPalette(indices.data(), b->image[0], static_cast<int>(count), b->palette);
    SYS_MemFree(b->palette);
    b->imageSize[0] = static_cast<unsigned>(count * 3);
    b->format = TX_FORMAT_RGB;
    b->bpp = 24;
    // The palette was filled red first, so the expanded pixels are too.
    b->order = TX_ORDER_RGB;
  } else {
    auto pixels = in.bytes(static_cast<size_t>(*bytes));
    if (!in.ok()) return brisk::Fail(TX_ERR_SHORT, nullptr);
    b->image[0] = static_cast<unsigned char *>(SYS_MemGet(pixels.size(), "tgaRead: bitmap"));
    if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    std::memcpy(b->image[0], pixels.data(), pixels.size());
  }

  const size_t row = static_cast<size_t>(width) * (b->bpp / 8);
  if (!(descriptor & 0x20) && !FlipRows(b->image[0], row, height, "tgaRead: line")) return nullptr;
  return b.release();
}

extern "C" int tgaWrite(const char *name, txBitmap *b) {
  if (!b || !name) return brisk::Fail(SYS_ERR_ARG, -1);
  TL_LOG(SYS_LOG_INFO, "TL][tga", "%s: %d\n", "smp->type", b->order);
  TL_LOG(SYS_LOG_INFO, "TL][tga", "%s: %d\n", "smp->subtype", b->format);
  if (b->order > 1) return brisk::Fail(TX_ERR_CANTSTORE, -1);
  int type;
  switch (b->format) {
    case TX_FORMAT_RGB:
    case TX_FORMAT_BGR:
    case TX_FORMAT_RGBA: type = 2; break;
    case TX_FORMAT_GREY: type = 3; break;
    default: return brisk::Fail(TX_ERR_CANTSTORE, -1);
  }
  // The header holds the size in 16 bits, which the reader takes as signed.
  if (!WritableLevel(b) || b->width > 32767 || b->height > 32767) return brisk::Fail(TX_ERR_CANTSTORE, -1);

  TL_DEBUG("TL][tga", "filename (write): %s\n", name);
  TL_DEBUG("TL][tga", " size: %dx%d\n", b->width, b->height);
  TL_DEBUG("TL][tga", " bits: %d\n", b->bpp);
  TL_DEBUG("TL][tga", " imagesize[0]: %u\n", b->imageSize[0]);
  TL_DEBUG("TL][tga", " comment: %s\n", kTgaComment);

  brisk::FilePtr out = CreateOutput(name, TX_ERR_WRITE);
  if (!out) return -1;
  const size_t commentLength = std::strlen(kTgaComment);
  unsigned char header[kHeader] = {};
  header[0] = static_cast<unsigned char>(commentLength);
  header[2] = static_cast<unsigned char>(type);
  header[12] = static_cast<unsigned char>(b->width & 0xFF);
  header[13] = static_cast<unsigned char>(b->width >> 8);
  header[14] = static_cast<unsigned char>(b->height & 0xFF);
  header[15] = static_cast<unsigned char>(b->height >> 8);
  header[16] = static_cast<unsigned char>(b->bpp);
  header[17] = 0x20;

  // Targa stores blue first: red-first data is swapped for the write and back.
  SwappedChannels swapped(b, b->format == TX_FORMAT_BGR);
  if (!WriteAll(out.get(), header, sizeof header) || !WriteAll(out.get(), kTgaComment, commentLength) ||
      !WriteAll(out.get(), b->image[0], b->imageSize[0]))
    return brisk::Fail(TX_ERR_WRITE, -1);
  return 0;
}
