// DICOM input filter: explicit VR little endian files with uncompressed pixel data.
#include <cstring>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kPreamble = 128;
constexpr size_t kFirstElement = 132;

// Value representations whose elements carry two reserved bytes and a 32-bit length.
bool LongForm(const unsigned char *vr) {
  static constexpr const char *kLong[] = {"OB", "OW", "OF", "SQ", "UT", "UN"};
  for (const char *l : kLong)
    if (vr[0] == l[0] && vr[1] == l[1]) return true;
  return false;
}

}  // namespace

extern "C" int dicomIdentify(const unsigned char *p, int size) {
  if (!p || size < static_cast<int>(kFirstElement)) return -1;
  for (size_t i = 0; i < kPreamble; ++i)
    if (p[i] != 0) return -1;
  return std::memcmp(p + kPreamble, "DICM", 4) == 0 ? 0 : -1;
}

extern "C" txBitmap *dicomRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, 0);
  BitmapPtr b(TL_NEW_BITMAP("bmpRead: struct"));
  if (!b) return nullptr;

  // Walk the elements until the next one would not fit.
  in.skip(kFirstElement);
  while (in.remaining() >= 8) {
    const uint16_t group = in.u16le();
    const uint16_t element = in.u16le();
    size_t length;
    if (LongForm(in.bytes(2).data())) {
      if (in.remaining() < 6) break;
      in.skip(2);
      length = in.u32le();
    } else {
      length = in.u16le();
    }
    if (length > in.remaining()) {
      // Pixel data running past the end is a short file; any other element ends the walk.
      if (group == 0x7FE0 && element == 0x0010) return brisk::Fail(TX_ERR_SHORT, nullptr);
      break;
    }
    const auto value = in.bytes(length);
    if (group == 0x0028 && length >= 2) {
      if (element == 0x0002) b->bpp = 8 * Le16(value.data());
      if (element == 0x0010) b->height = Le16(value.data());
      if (element == 0x0011) b->width = Le16(value.data());
    } else if (group == 0x7FE0 && element == 0x0010 && length > 0) {
      SYS_MemFree(b->image[0]);
      b->image[0] = static_cast<unsigned char *>(SYS_MemGet(length, "buffer"));
      if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
      std::memcpy(b->image[0], value.data(), length);
      b->imageSize[0] = static_cast<unsigned>(length);
    }
  }

  b->order = TX_ORDER_BGR;
  b->format = b->bpp == 8 ? TX_FORMAT_GREY : TX_FORMAT_NONE;
  // The pixel data must cover the picture the header describes.
  if (b->bpp == 0 || b->bpp % 8 != 0 || !PixelStride(b.get())) return brisk::Fail(TX_ERR_SHORT, nullptr);
  return b.release();
}
