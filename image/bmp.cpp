// Windows bitmap input filter: uncompressed images of 8 bits and more.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kHeader = 54;  // file header and the 40-byte information header
constexpr size_t kPaletteBytes = 256 * 4;  // blue, green, red, reserved

}  // namespace

extern "C" int bmpIdentify(const unsigned char *p, int size) {
  return p && size >= 2 && p[0] == 'B' && p[1] == 'M' ? 0 : -1;
}

extern "C" txBitmap *bmpRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, kHeader);
  if (in.failed()) return nullptr;
  const size_t total = in.remaining();
  in.skip(10);  // signature, file size, reserved
  const uint32_t dataOffset = in.u32le();
  const uint32_t infoSize = in.u32le();
  const int32_t width = ReadI32(in);
  const int32_t rawHeight = ReadI32(in);
  in.skip(2);  // planes
  const int bits = in.u16le();
  const int compression = static_cast<int>(in.u32le());
  const uint32_t sizeField = in.u32le();
  in.skip(8);  // resolution
  const int colours = static_cast<int>(in.u32le());

  if (bits < 8 || bits == 16) return brisk::Fail(TX_ERR_DEPTH, nullptr);
  // Run-length (1, 2) and embedded JPEG or PNG data (4, 5) are not pixels
  // that can be copied; plain (0) and bit-field (3, 6) images are.
  if (bits % 8 != 0 || bits > 64 || compression == 1 || compression == 2 || compression == 4 || compression == 5)
    return brisk::Fail(TX_ERR_DEPTH, nullptr);
  // A negative height marks rows stored top row first.
  const bool topDown = rawHeight < 0;
  const int64_t height = topDown ? -static_cast<int64_t>(rawHeight) : rawHeight;
  const int c = bits / 8;
  auto bytes = PixelBytes(width, height, c);
  if (!bytes) return brisk::Fail(TX_ERR_SHORT, nullptr);

  BitmapPtr b(TL_NEW_BITMAP("bmpRead: struct"));
  if (!b) return nullptr;
  b->width = width;
  b->height = static_cast<int>(height);
  b->bpp = bits;
  b->order = TX_ORDER_BGR;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->format = FormatOfDepth(bits, colours != 0);

  TL_DEBUG("TL][bmp", "BMP: %s\n", LoadingName());
  TL_DEBUG("TL][bmp", " size: %dx%d bits: %d\n", b->width, b->height, b->bpp);
  TL_DEBUG("TL][bmp", " clr used: %d\n", colours);
  TL_DEBUG("TL][bmp", " compression: %d\n", compression);
  TL_DEBUG("TL][bmp", " imagesize[0]: %lu\n", static_cast<unsigned long>(b->imageSize[0]));

  // Each stored row is padded to a multiple of four bytes.
  const size_t row = static_cast<size_t>(width) * c;
  const size_t stride = (row + 3) & ~size_t{3};
  const size_t stored = stride * static_cast<size_t>(height);

  // The pixels start where the file header says; a file whose offset lies
  // outside it has them at the end (with colours used) or right after the header.
  size_t start;
  if (dataOffset >= kHeader && dataOffset <= total)
    start = dataOffset;
  else if (colours && sizeField <= total - kHeader)
    start = total - sizeField;
  else
    start = kHeader;
  if (start > total || stored > total - start) return brisk::Fail(TX_ERR_SHORT, nullptr);

  if (colours) {
    // Everything between the information header and the pixels is the palette.
    size_t paletteStart = infoSize >= 40 && infoSize <= start - 14 ? 14 + infoSize : kHeader;
    const size_t n = start > paletteStart ? start - paletteStart : 0;
    if (b->format == TX_FORMAT_INDEX) {
      // Every index must find its entry: 256 of them, zero beyond what the
      // file holds. A file with no palette bytes at all is inconsistent.
      if (n == 0) return brisk::Fail(TX_ERR_SHORT, nullptr);
      b->palette = static_cast<unsigned char *>(SYS_MemGet(kPaletteBytes, "bmpRead: palette"));
      if (!b->palette) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
      std::memcpy(b->palette, buffer + paletteStart, std::min(n, kPaletteBytes));
    } else if (n > 0) {
      b->palette = static_cast<unsigned char *>(SYS_MemGet(n, "bmpRead: palette"));
      if (!b->palette) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
      std::memcpy(b->palette, buffer + paletteStart, n);
    }
  }

  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "bmpRead: bitmap"));
  if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  // Rows are copied without their padding, bottom row first unless stored top-down.
  for (int64_t r = 0; r < height; ++r) {
    int64_t target = topDown ? r : height - 1 - r;
    std::memcpy(b->image[0] + row * target, buffer + start + stride * r, row);
  }
  return b.release();
}
