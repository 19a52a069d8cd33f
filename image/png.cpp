// PNG filter over libpng: reading from the file buffer, writing through the file layer.
#include <png.h>

#include <algorithm>
#include <csetjmp>
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

constexpr size_t kSignature = 8;

// libpng reports errors by jumping back to the reader; nothing is printed.
[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

struct Source {
  const unsigned char *data;
  size_t size;
  size_t pos;
  bool ranOut;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
  auto *s = static_cast<Source *>(png_get_io_ptr(png));
  if (n > s->size - s->pos) {
    s->ranOut = true;
    png_error(png, "read past the end of the file");
  }
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
}

// Everything a read owns, kept outside the frame that calls setjmp.
struct ReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop end = nullptr;
  BitmapPtr bitmap;
  brisk::MemPtr<png_bytep> rows;
  int code = SYS_ERR_NOMEM;
  ~ReadState() { png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, end ? &end : nullptr); }
};

// Decodes into st.bitmap; false on any libpng error or limit (code in st.code).
bool Decode(ReadState &st) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_structp png = st.png;
  png_set_sig_bytes(png, kSignature);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  // Ancillary chunks (text, profiles) are read whole; a length field must not
  // make libpng ask for gigabytes.
  png_set_chunk_malloc_max(png, 8u << 20);
  png_read_info(png, st.info);

  png_uint_32 width = 0, height = 0;
  int depth = 0, type = 0;
  png_get_IHDR(png, st.info, &width, &height, &depth, &type, nullptr, nullptr, nullptr);
  // Pixels of fewer than 8 bits come one to a byte (grey scaled to 0..255),
  // so that every layout holds width * height * bpp / 8 bytes.
  if (depth < 8) {
    png_set_packing(png);
    if (type == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
    depth = 8;
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, st.info);

  const int channels = png_get_channels(png, st.info);
  const int bpp = channels * depth;
  auto bytes = PixelBytes(width, height, bpp / 8);
  const size_t rowBytes = png_get_rowbytes(png, st.info);
  if (!bytes || rowBytes != static_cast<size_t>(width) * (bpp / 8)) {
    st.code = TX_ERR_SHORT;
    return false;
  }

  txBitmap *b = st.bitmap.get();
  b->width = static_cast<int>(width);
  b->height = static_cast<int>(height);
  b->bpp = bpp;
  b->order = TX_ORDER_RGB;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  // Only 8-bit samples make one of the known layouts: 16-bit grey with alpha
  // has 32 bits as RGBA has, but two channels.
  b->format = depth == 8 ? FormatOfDepth(bpp, type == PNG_COLOR_TYPE_PALETTE) : TX_FORMAT_NONE;
  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "pngRead: bitmap"));
  st.rows = brisk::OwnMem(static_cast<png_bytep *>(SYS_MemGet(sizeof(png_bytep) * height, "pngRead: row")));
  if (!b->image[0] || !st.rows) return false;
  for (png_uint_32 r = 0; r < height; ++r) st.rows.get()[r] = b->image[0] + rowBytes * r;
  png_read_image(png, st.rows.get());
  st.rows.reset();

  if (type == PNG_COLOR_TYPE_PALETTE) {
    // 256 entries of red, green, blue, alpha: black beyond the PLTE chunk,
    // opaque beyond what the tRNS chunk covers.
    b->palette = static_cast<unsigned char *>(SYS_MemGet(256 * 4, "pngRead: palette"));
    if (!b->palette) return false;
    for (int i = 0; i < 256; ++i) b->palette[4 * i + 3] = 255;
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(png, st.info, &entries, &count) & PNG_INFO_PLTE) {
      for (int i = 0; i < count && i < 256; ++i) {
        b->palette[4 * i] = entries[i].red;
        b->palette[4 * i + 1] = entries[i].green;
        b->palette[4 * i + 2] = entries[i].blue;
      }
    }
    png_bytep alpha = nullptr;
    int covered = 0;
    if (png_get_tRNS(png, st.info, &alpha, &covered, nullptr) & PNG_INFO_tRNS) {
      for (int i = 0; alpha && i < covered && i < 256; ++i) b->palette[4 * i + 3] = alpha[i];
    }
  }
  png_read_end(png, st.end);
  return true;
}

// --- writing ------------------------------------------------------------------

void WriteBytes(png_structp png, png_bytep data, png_size_t n) {
  if (!WriteAll(static_cast<SYS_File_t *>(png_get_io_ptr(png)), data, n)) png_error(png, "write failed");
}
void FlushBytes(png_structp) {}

struct WriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  SYS_File_t *out = nullptr;
  ~WriteState() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

bool Encode(WriteState &st, txBitmap *b) {
  if (setjmp(png_jmpbuf(st.png))) return false;
  png_structp png = st.png;
  png_set_write_fn(png, st.out, WriteBytes, FlushBytes);
  png_set_compression_level(png, std::clamp(g_tl.pngLevel, 0, 9));
  int type = b->format == TX_FORMAT_RGBA ? PNG_COLOR_TYPE_RGB_ALPHA
             : b->format == TX_FORMAT_GREY ? PNG_COLOR_TYPE_GRAY
                                           : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, st.info, static_cast<png_uint_32>(b->width), static_cast<png_uint_32>(b->height), 8, type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, st.info);
  if (b->format == TX_FORMAT_RGB || b->format == TX_FORMAT_RGBA) png_set_bgr(png);
  const size_t row = static_cast<size_t>(b->width) * (b->bpp / 8);
  for (int r = 0; r < b->height; ++r) png_write_row(png, b->image[0] + row * r);
  png_write_end(png, st.info);
  return true;
}

// Walks the chunks: every one must lie inside the file. libpng itself would
// allocate a text chunk of whatever length its header claims before finding
// the file too short.
bool ChunksFit(ByteReader in) {
  in.skip(kSignature);
  while (in.ok()) {
    const uint32_t length = in.u32be();
    const uint32_t type = in.u32be();
    in.skip(static_cast<size_t>(length) + 4);  // data and CRC
    if (type == 0x49454E44u) return in.ok();   // IEND
  }
  return false;
}

}  // namespace

extern "C" int pngIdentify(const unsigned char *p, int size) {
  return p && size >= 4 && p[0] == 0x89 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G' ? 0 : -1;
}

extern "C" txBitmap *pngRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, kSignature);
  if (in.failed()) return nullptr;
  if (!ChunksFit(in)) return brisk::Fail(TX_ERR_SHORT, nullptr);
  ReadState st;
  st.bitmap.reset(TL_NEW_BITMAP("pngRead: struct"));
  if (!st.bitmap) return nullptr;
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (st.png) st.info = png_create_info_struct(st.png);
  if (st.png) st.end = png_create_info_struct(st.png);
  if (!st.png || !st.info || !st.end) return brisk::Fail(st.code, nullptr);
  Source src{buffer, in.remaining(), kSignature, false};
  png_set_read_fn(st.png, &src, ReadBytes);
  if (!Decode(st)) {
    // A file that ends before its data is short, whatever libpng made of it.
    return brisk::Fail(src.ranOut ? TX_ERR_SHORT : st.code, nullptr);
  }
  return st.bitmap.release();
}

extern "C" int pngWrite(const char *name, txBitmap *b) {
  if (!b || !name) return brisk::Fail(SYS_ERR_ARG, -1);
  if (b->order > 2 || b->format < 0 || b->format > 3) return brisk::Fail(TX_ERR_CANTSTORE, -1);
  TL_DEBUG("TL][png", "PNG write: %s\n", name);
  TL_DEBUG("TL][png", " size: %dx%d %dbits\n", b->width, b->height, b->bpp);
  TL_DEBUG("TL][png", " type: %d subtype: %d\n", b->order, b->format);
  if (!WritableLevel(b)) return brisk::Fail(TX_ERR_CANTSTORE, -1);

  WriteState st;
  st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!st.png) return brisk::Fail(TX_ERR_PNG_SETUP, -1);
  st.info = png_create_info_struct(st.png);
  if (!st.info) return brisk::Fail(SYS_ERR_CREATE, -1);
  brisk::FilePtr out = CreateOutput(name, SYS_ERR_CREATE);
  if (!out) return -1;
  st.out = out.get();
  if (!Encode(st, b)) return brisk::Fail(SYS_ERR_NOMEM, -1);
  return 0;
}
