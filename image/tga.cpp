// Targa filter: uncompressed true colour, colour-mapped and grey images.
#include <cstring>

#include "base/log.h"
#include "base/mem.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kHeader = 18;

// Swaps the rows of a level top to bottom. False (code 5) without memory.
bool FlipLevel(unsigned char *data, size_t row, int height, const char *tag) {
  auto *line = static_cast<unsigned char *>(SYS_MemGet(row, tag));
  if (!line) {
    errSetLastError(SYS_ERR_NOMEM);
    return false;
  }
  for (int r = 0; r < height / 2; ++r) {
    unsigned char *a = data + row * r, *z = data + row * (height - 1 - r);
    std::memcpy(line, a, row);
    std::memcpy(a, z, row);
    std::memcpy(z, line, row);
  }
  SYS_MemFree(line);
  return true;
}

txBitmap *Fail(txBitmap *b, int code) {
  DropBitmap(b);
  errSetLastError(code);
  return nullptr;
}

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
  const size_t total = buffer && size > 0 ? static_cast<size_t>(size) : 0;
  ByteReader in(buffer, total);
  if (total < kHeader) {
    errSetLastError(TX_ERR_SHORT);
    return nullptr;
  }
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
  if (depth != 8 && depth != 16 && depth != 24 && depth != 32) {
    errSetLastError(TX_ERR_SHORT);
    return nullptr;
  }
  if (mapLength != 0 && depth != 8) {
    errSetLastError(TX_ERR_SHORT);
    return nullptr;
  }
  auto bytes = PixelBytes(width, height, depth / 8);
  if (!bytes) {
    errSetLastError(TX_ERR_SHORT);
    return nullptr;
  }

  txBitmap *b = TL_NEW_BITMAP("tgaRead: struct");
  if (!b) return nullptr;
  b->width = width;
  b->height = height;
  b->bpp = depth;
  b->order = TX_ORDER_BGR;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->format = depth == 8 ? (mapLength ? TX_FORMAT_INDEX : TX_FORMAT_GREY)
              : depth == 24 ? TX_FORMAT_RGB
              : depth == 32 ? TX_FORMAT_RGBA
                            : TX_FORMAT_NONE;

  in.skip(idLength);
  if (mapLength != 0) {
    // Up to 256 entries of 24 (blue, green, red) or 32 bits (blue, green, red,
    // alpha) are taken into the palette as red, green, blue; the whole map is
    // stepped over whatever its entry size, so the pixels are found.
    b->palette = static_cast<unsigned char *>(SYS_MemGet(256 * 4, "tgaRead: palette"));
    if (!b->palette) return Fail(b, SYS_ERR_NOMEM);
    const size_t entryBytes = (mapEntryBits + 7u) / 8u;
    auto map = in.bytes(entryBytes * mapLength);
    if (!in.ok()) return Fail(b, TX_ERR_SHORT);
    if (mapEntryBits == 24 || mapEntryBits == 32) {
      for (size_t i = 0; i < mapLength && i < 256; ++i) {
        const unsigned char *e = map.data() + i * entryBytes;
        b->palette[4 * i] = e[2];
        b->palette[4 * i + 1] = e[1];
        b->palette[4 * i + 2] = e[0];
      }
    }
    auto indices = in.bytes(static_cast<size_t>(*bytes));
    if (!in.ok()) return Fail(b, TX_ERR_SHORT);
    const size_t count = indices.size();
    b->image[0] = static_cast<unsigned char *>(SYS_MemGet(count * 3, "tgaRead: bitmap"));
    if (!b->image[0]) return Fail(b, SYS_ERR_NOMEM);
    txExpandPalette(indices.data(), b->image[0], static_cast<int>(count), b->palette);
    SYS_MemFree(b->palette);
    b->imageSize[0] = static_cast<unsigned>(count * 3);
    b->format = TX_FORMAT_RGB;
    b->bpp = 24;
    // The palette was filled red first, so the expanded pixels are too.
    b->order = TX_ORDER_RGB;
  } else {
    auto pixels = in.bytes(static_cast<size_t>(*bytes));
    if (!in.ok()) return Fail(b, TX_ERR_SHORT);
    b->image[0] = static_cast<unsigned char *>(SYS_MemGet(pixels.size(), "tgaRead: bitmap"));
    if (!b->image[0]) return Fail(b, SYS_ERR_NOMEM);
    std::memcpy(b->image[0], pixels.data(), pixels.size());
  }

  if (!(descriptor & 0x20) &&
      !FlipLevel(b->image[0], static_cast<size_t>(width) * (b->bpp / 8), height, "tgaRead: line"))
    return Fail(b, SYS_ERR_NOMEM);
  return b;
}

extern "C" int tgaWrite(const char *name, txBitmap *b) {
  if (!b || !name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  TL_LOG(SYS_LOG_INFO, "TL][tga", "%s: %d\n", "smp->type", b->order);
  TL_LOG(SYS_LOG_INFO, "TL][tga", "%s: %d\n", "smp->subtype", b->format);
  if (b->order > 1) {
    errSetLastError(TX_ERR_CANTSTORE);
    return -1;
  }
  int type;
  switch (b->format) {
    case TX_FORMAT_RGB:
    case TX_FORMAT_BGR:
    case TX_FORMAT_RGBA: type = 2; break;
    case TX_FORMAT_GREY: type = 3; break;
    default:
      errSetLastError(TX_ERR_CANTSTORE);
      return -1;
  }
  // The header holds the size in 16 bits, which the reader takes as signed.
  if (!WritableLevel(b) || b->width > 32767 || b->height > 32767) {
    errSetLastError(TX_ERR_CANTSTORE);
    return -1;
  }

  TL_DEBUG("TL][tga", "filename (write): %s\n", name);
  TL_DEBUG("TL][tga", " size: %dx%d\n", b->width, b->height);
  TL_DEBUG("TL][tga", " bits: %d\n", b->bpp);
  TL_DEBUG("TL][tga", " imagesize[0]: %u\n", b->imageSize[0]);
  TL_DEBUG("TL][tga", " comment: %s\n", kTgaComment);

  OutFile out(name);
  if (!out.ok()) {
    errSetLastError(2);
    return -1;
  }
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
  const bool swap = b->format == TX_FORMAT_BGR;
  if (swap) txSwapRB(b);
  bool ok = out.write(header, sizeof header) && out.write(kTgaComment, commentLength) &&
            out.write(b->image[0], b->imageSize[0]);
  if (swap) txSwapRB(b);
  if (!ok) {
    errSetLastError(2);
    return -1;
  }
  return 0;
}
