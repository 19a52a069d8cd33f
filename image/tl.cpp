// Image loader: the filter table, the file callbacks, txLoad and its
// post-processing (alpha map, channel order, flip, texture quality), saving,
// and the record's life cycle.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/errors.h"
#include "base/file.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/formats.h"
#include "image/image.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

namespace brisk::image {

Settings g_tl;

txBitmap *NewBitmap(const char *tag, const char *file, int line) {
  auto *b = static_cast<txBitmap *>(_SYS_MemGet(sizeof(txBitmap), file, line, tag));
  if (!b) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  b->levels = 1;
  return b;
}

void DropBitmap(txBitmap *&bitmap) {
  if (!bitmap) return;
  for (auto &level : bitmap->image) SYS_MemFree(level);
  SYS_MemFree(bitmap->palette);
  SYS_MemFree(bitmap);
}

int PixelStride(const txBitmap *b) {
  if (!b || b->order == TX_ORDER_DXT || b->bpp < 8 || b->bpp % 8 != 0 || !b->image[0]) return 0;
  auto bytes = PixelBytes(b->width, b->height, b->bpp / 8);
  if (!bytes || *bytes > b->imageSize[0]) return 0;
  return b->bpp / 8;
}

bool WritableLevel(const txBitmap *b) {
  int c = PixelStride(b);
  switch (b ? b->format : -1) {
    case TX_FORMAT_RGB:
    case TX_FORMAT_BGR:
      return c == 3;
    case TX_FORMAT_RGBA:
      return c == 4;
    case TX_FORMAT_GREY:
      return c == 1;
    default:
      return false;
  }
}

std::string AlphaName(const std::string &name) {
  size_t base = name.find_last_of("/\\");
  size_t dot = name.rfind('.');
  std::string out;
  if (dot != std::string::npos && (base == std::string::npos || dot > base))
    out = name.substr(0, dot) + "_a" + name.substr(dot);
  else
    out = name + "_a";
  if (out.size() > 511) out.resize(511);
  return out;
}

bool FlipRows(unsigned char *data, size_t row, int height, const char *tag) {
  auto line = brisk::OwnMem(static_cast<unsigned char *>(SYS_MemGet(row, tag)));
  if (!line) return brisk::Fail(SYS_ERR_NOMEM, false);
  for (int r = 0; r < height / 2; ++r) {
    unsigned char *a = data + row * r, *z = data + row * (height - 1 - r);
    std::memcpy(line.get(), a, row);
    std::memcpy(a, z, row);
    std::memcpy(z, line.get(), row);
  }
  return true;
}

brisk::FilePtr CreateOutput(const char *name, int code) {
  brisk::FilePtr file(SYS_FileOpen(name, SYS_FILE_CREATE));
  if (!file) errSetLastError(code);
  return file;
}

bool WriteAll(SYS_File_t *file, const void *data, size_t size) {
  while (size > 0) {
    int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    if (SYS_FileWrite(file, data, chunk) != 0) return false;
    data = static_cast<const unsigned char *>(data) + chunk;
    size -= static_cast<size_t>(chunk);
  }
  return true;
}

SwappedChannels::SwappedChannels(txBitmap *bitmap, bool swap) : bitmap_(swap ? bitmap : nullptr) {
  if (bitmap_) txSwapRB(bitmap_);
}

SwappedChannels::~SwappedChannels() {
  if (!bitmap_) return;
  const int code = brisk::PendingError();
  txSwapRB(bitmap_);
  errSetLastError(code);
}

}  // namespace brisk::image

using namespace brisk::image;

namespace {

// The filter table, in the order txLoad tries it.
constexpr txFilter kFilters[] = {
    {TX_FILE_BMP, "brisk!quantoven's BMP input filter", "Windows bitmap (BMP)", bmpIdentify, bmpRead, nullptr},
    {TX_FILE_PNG, "brisk!quantoven's PNG filter", "Portable Network Graphics format (PNG)", pngIdentify, pngRead,
     pngWrite},
    {TX_FILE_TGA, "brisk!quantoven's TGA filter", "Targa (TGA)", tgaIdentify, tgaRead, tgaWrite},
    {TX_FILE_JPEG, "brisk!quantoven's JPEG filter", "JPEG format (JPG)", jpegIdentify, jpegRead, jpegWrite},
    {TX_FILE_DDS, "brisk!quantoven's DDS input filter", "Windows DirectDrawSurface (DDS)", ddsIdentify, ddsRead,
     nullptr},
    {TX_FILE_DDZ, "brisk!quantoven's FTX filter", "Z packed DDS (FTX)", ddzIdentify, ddzRead, ddzWrite},
    {TX_FILE_PNM, "brisk!quantoven's PNM filter", "Portable Pixmap (PNM)", pnmIdentify, pnmRead, pnmWrite},
    {TX_FILE_DICOM, "brisk!quantoven's DICOM input filter",
     "Digital Imaging and Communications in Medicine (DICOM)", dicomIdentify, dicomRead, nullptr},
};

const txFilter *Identify(const unsigned char *bytes, int size) {
  for (const auto &f : kFilters) {
    if (!f.identify) continue;
    if (f.identify(bytes, size) == 0) return &f;
  }
  return nullptr;
}

// --- default file callbacks over the file layer -------------------------------

struct DefaultFile {
  SYS_File_t *file = nullptr;
  char *name = nullptr;
  int size = 0;
} g_file;

int DefaultClose() {
  SYS_MemFree(g_file.name);
  if (g_file.file) SYS_FileClose(g_file.file);
  g_file.file = nullptr;
  g_file.size = 0;
  return 0;
}

int DefaultOpen(const char *name) {
  if (g_file.file) DefaultClose();
  int size = SYS_FileSize(name);
  if (size >= 0) {
    if (SYS_File_t *f = SYS_FileOpen(name, 0)) {
      g_file.file = f;
      g_file.size = size;
      g_file.name = SYS_StrDup(name);
      return 0;
    }
  }
  return brisk::Fail(SYS_ERR_NOTFOUND, -1);
}

// The whole file in a buffer twice its size, the second half zeros.
void *DefaultRead() {
  int size = g_file.size;
  if (size > (1 << 30) - 1) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  auto buffer = brisk::OwnMem(static_cast<unsigned char *>(SYS_MemGet(size > 0 ? 2 * size : 1, "txIRead")));
  if (!buffer) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  int got = size > 0 ? SYS_FileRead(g_file.file, buffer.get(), size) : 0;
  if (got < size) {
    std::printf("! %s\n", std::strerror(errno));
    return brisk::Fail(TX_ERR_READ, nullptr);
  }
  return buffer.release();
}

int DefaultSize() { return g_file.size; }

int DefaultExist(const char *name) { return SYS_FileExist(name); }

constexpr txFunctions kDefaultFunctions = {DefaultOpen, DefaultRead, DefaultSize, DefaultClose, DefaultExist};
txFunctions g_functions = kDefaultFunctions;

// Whether the record's pixels are bytes of colour channels that a channel
// swap or an alpha map may touch. A record without a format holds samples
// of no known layout (16-bit grey and alpha, say) and is left as the file
// gave it; a colour DICOM picture has no format either but holds 8-bit
// channels, and is swapped like any other.
bool ByteChannels(const txBitmap *bitmap) {
  return bitmap->format != TX_FORMAT_NONE || bitmap->fileType == TX_FILE_DICOM;
}

// Writes the first channel of the alpha image into every fourth byte of
// bitmap's level 0, turning a 24-bit (or 8-bit grey) image into 32 bits first.
void MergeAlpha(txBitmap *bitmap, const txBitmap *alpha) {
  if (bitmap->levels != 1) return;  // further levels would keep their old depth
  if (!ByteChannels(bitmap)) return;
  if (bitmap->bpp == 8 && bitmap->format == TX_FORMAT_GREY && tx8to24(bitmap) != 0) return;
  if (bitmap->bpp == 24 && tx24to32(bitmap) != 0) return;
  if (bitmap->bpp != 32 || !PixelStride(bitmap)) return;
  size_t step = alpha->bpp == 8 ? 1 : alpha->bpp == 24 ? 3 : 4;
  const unsigned char *src = alpha->image[0];
  size_t srcSize = src ? alpha->imageSize[0] : 0;
  size_t j = 0;
  for (size_t i = 3; i < bitmap->imageSize[0] && j < srcSize; i += 4, j += step) bitmap->image[0][i] = src[j];
  bitmap->format = TX_FORMAT_RGBA;
}

// Loads the alpha map under name with the alpha-map switch off. Null when it does not load.
txBitmap *LoadAlphaMap(const char *name) {
  g_tl.alphaMap = 0;
  errClear();
  txBitmap *alpha = txLoad(name);
  g_tl.alphaMap = 1;
  return alpha;
}

// Flips level 0 top to bottom. False (code 5) when the row buffer cannot be had.
bool FlipLevel(txBitmap *b) {
  int c = PixelStride(b);
  if (!c) return true;
  return FlipRows(b->image[0], static_cast<size_t>(b->width) * c, b->height, "txLoad: flipping");
}

}  // namespace

extern "C" int txInit(pxFunctions functions) {
  g_functions = functions ? *functions : kDefaultFunctions;
  g_tl.debug = SYS_CfgGet("debug-tl", 0) == 1;
  if (SYS_CfgGet("disable-dxt1", 0) == 1) g_tl.disableDxt |= 1;
  if (SYS_CfgGet("disable-dxt3", 0) == 1) g_tl.disableDxt |= 2;
  if (SYS_CfgGet("disable-dxt5", 0) == 1) g_tl.disableDxt |= 4;
  return 0;
}

extern "C" txBitmap *txLoad(const char *name) {
  errClear();
  if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
  g_tl.loading = name;
  TL_DEBUG("TL", "Load bitmap: %s\n", name);

  if (!g_functions.fOpen || !g_functions.fRead || !g_functions.fFSize || !g_functions.fClose)
    return brisk::Fail(SYS_ERR_ARG, nullptr);
  if (g_functions.fOpen(name) != 0) {
    TL_DEBUG("TL", " ! unable to open texture (%s).\n", name);
    return nullptr;
  }
  auto buffer = brisk::OwnMem(static_cast<unsigned char *>(g_functions.fRead()));
  if (!buffer) {
    TL_DEBUG("TL", " ! unable to read texture (%s).\n", name);
    return nullptr;
  }
  int size = g_functions.fFSize();
  g_functions.fClose();
  if (size < 0) size = 0;

  errClear();
  const txFilter *filter = Identify(buffer.get(), size);
  if (!filter) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
  errClear();  // the DDZ test leaves 1000 behind for other formats
  TL_DEBUG("TL", "type: %s\n", filter->description);
  BitmapPtr bitmap(filter->read(buffer.get(), size));
  buffer.reset();  // not held while the alpha map loads
  if (!bitmap) return nullptr;
  bitmap->fileType = filter->id;
  TL_DEBUG("TL", "size: %dx%d bits: %d\n", bitmap->width, bitmap->height, bitmap->bpp);
  TL_DEBUG("TL", "imagesize: %u\n", bitmap->imageSize[0]);

  // An alpha map itself, and DXT blocks, come back as read.
  if (!g_tl.alphaMap || bitmap->order == TX_ORDER_DXT) return bitmap.release();

  std::string alphaName = AlphaName(name);
  if (BitmapPtr alpha{LoadAlphaMap(alphaName.c_str())}) {
    MergeAlpha(bitmap.get(), alpha.get());
  } else {
    TL_DEBUG("TL", "alpha map not found.\n");
  }
  errClear();
  g_tl.loading = name;
  TL_DEBUG("TL", "---\n");

    if (bitmap->order != g_tl.order && (bitmap->bpp == 24 || bitmap->bpp == 32) && ByteChannels(bitmap.get())) {
    txSwapRB(bitmap.get());
    errClear();
  }

  if (g_tl.flip) {
    TL_DEBUG("TL", "Horizontal flipping.\n");
    if (!FlipLevel(bitmap.get())) return nullptr;
  }

  if (g_tl.quality != 0 && bitmap->levels == 1) {
    int shift = g_tl.quality == 1 ? 1 : 2;
    int w = bitmap->width >> shift, h = bitmap->height >> shift;
    txScale(bitmap.get(), w > 0 ? w : 1, h > 0 ? h : 1);
    errClear();
  }
  return bitmap.release();
}

extern "C" int txSave(int id, const char *name, txBitmap *bitmap) {
  errClear();
  for (const auto &f : kFilters) {
    if (f.id != id) continue;
    TL_DEBUG("TL", " ! saving with %s\n", f.name);
    if (!f.write) break;
    int result = f.write(name, bitmap);
    if (result != 0) TL_DEBUG("TL", " ! returned with error, code: %d\n", brisk::PendingError());
    return result;
  }
  TL_DEBUG("TL", " ! unknown format.\n");
  return brisk::Fail(TX_ERR_UNKNOWN, -1);
}

extern "C" int txFree(txBitmap **bitmap) {
  if (!bitmap || !*bitmap) return brisk::Fail(SYS_ERR_ARG, -1);
  DropBitmap(*bitmap);
  return 0;
}

extern "C" txBitmap *txDup(const txBitmap *bitmap) {
  errClear();
  if (!bitmap) return brisk::Fail(TX_ERR_NULL, nullptr);
  BitmapPtr copy(TL_NEW_BITMAP("txDup: struct"));
  if (!copy) return nullptr;
  *copy = *bitmap;
  copy->palette = nullptr;
  for (auto &level : copy->image) level = nullptr;
  for (int i = 0; i < TX_MAX_LEVELS; ++i) {
    if (!bitmap->image[i] || bitmap->imageSize[i] == 0) continue;
    copy->image[i] = static_cast<unsigned char *>(SYS_MemGet(bitmap->imageSize[i], "txDup: bitmap"));
    if (!copy->image[i]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    std::memcpy(copy->image[i], bitmap->image[i], bitmap->imageSize[i]);
  }
  if (bitmap->palette) {
    int size = SYS_MemSize(bitmap->palette);
    copy->palette = size > 0 ? static_cast<unsigned char *>(SYS_MemGet(size, "txDup: palette")) : nullptr;
    if (!copy->palette) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    std::memcpy(copy->palette, bitmap->palette, static_cast<size_t>(size));
  }
  return copy.release();
}

extern "C" txBitmap *txCreateDummy(int type, int width, int height) {
  errClear();
  int bpp = (type == 0 || type == 1) ? 24 : type == 2 ? 32 : type == 3 ? 8 : 0;
  auto bytes = PixelBytes(width, height, bpp / 8);
  if (!bpp || !bytes) return brisk::Fail(SYS_ERR_ARG, nullptr);
  BitmapPtr b(TL_NEW_BITMAP("txCreateDummy: struct"));
  if (!b) return nullptr;
  b->order = b->format = type;
  b->width = width;
  b->height = height;
  b->bpp = bpp;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "txCreateDummy: buffer"));
  if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  return b.release();
}

extern "C" int txAddAlphaChannel(const char *name, txBitmap *bitmap) {
  errClear();
  if (!name || !bitmap) return brisk::Fail(SYS_ERR_ARG, -1);
  std::string keep = g_tl.loading;
  BitmapPtr alpha(LoadAlphaMap(name));
  g_tl.loading = keep;
  if (!alpha) {
    TL_DEBUG("TL", "alpha map not found.\n");
    errClear();
    TL_DEBUG("TL", "---\n");
    return brisk::Fail(TX_ERR_NOALPHA, -1);
  }
  MergeAlpha(bitmap, alpha.get());
  errClear();
  TL_DEBUG("TL", "---\n");
  return 0;
}

extern "C" int txOptions(int option, int value) {
  auto keep = [&](int &sw, unsigned bit) {
    if (!(g_tl.disableDxt & bit)) sw = value;
    return 0;
  };
  switch (option) {
    case TX_OPT_DDZ: g_tl.ddz = value; return 0;
    case TX_OPT_DEBUG: g_tl.debug = value; return 0;
    case TX_OPT_QUALITY:
      g_tl.quality = value;
      TL_LOG(SYS_LOG_INFO, "TL", "Set texture quality: %d\n", value);
      return 0;
    case TX_OPT_ORDER: g_tl.order = value; return 0;
    case TX_OPT_FLIP: g_tl.flip = value; return 0;
    case TX_OPT_JPEG_BASELINE: g_tl.jpegBaseline = value; return 0;
    case TX_OPT_JPEG_PROGRESSIVE: g_tl.jpegProgressive = value; return 0;
    case TX_OPT_JPEG_OPTIMISE: g_tl.jpegOptimise = value; return 0;
    case TX_OPT_JPEG_SMOOTHING: g_tl.jpegSmoothing = value; return 0;
    case TX_OPT_JPEG_QUALITY: g_tl.jpegQuality = value; return 0;
    case TX_OPT_PNG_LEVEL: g_tl.pngLevel = value; return 0;
    case TX_OPT_GET_ORDER: return g_tl.order;
    case TX_DXT1: return keep(g_tl.keepDxt1, 1);
    case TX_DXT3: return keep(g_tl.keepDxt3, 2);
    case TX_DXT5: return keep(g_tl.keepDxt5, 4);
    default: return brisk::Fail(SYS_ERR_ARG, -1);
  }
}

extern "C" int txGetDepth(const txBitmap *bitmap) { return bitmap ? bitmap->bpp : 0; }

extern "C" unsigned char *txGetImage(const txBitmap *bitmap, int level) {
  return bitmap && level >= 0 && level < TX_MAX_LEVELS ? bitmap->image[level] : nullptr;
}

extern "C" unsigned int txGetImageSize(const txBitmap *bitmap, int level) {
  return bitmap && level >= 0 && level < TX_MAX_LEVELS ? bitmap->imageSize[level] : 0;
}

extern "C" const txFilter *txIdentify(const void *buffer) {
  errClear();
  const txFilter *f = buffer ? Identify(static_cast<const unsigned char *>(buffer), TX_IDENTIFY_BYTES) : nullptr;
  // The DDZ test leaves 1000 behind for the formats after it.
  if (f)
    errClear();
  else
    errSetLastError(TX_ERR_UNKNOWN);
  return f;
}
