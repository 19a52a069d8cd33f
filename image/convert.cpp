// Image loader: channel and depth conversions, intensity images and the
// box-filter shrink.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/image.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

// Replaces level 0 with a new buffer of size bytes.
void Install(txBitmap *b, unsigned char *buffer, size_t size) {
  SYS_MemFree(b->image[0]);
  b->image[0] = buffer;
  b->imageSize[0] = static_cast<unsigned>(size);
}

size_t Pixels(const txBitmap *b) { return static_cast<size_t>(b->width) * static_cast<size_t>(b->height); }

// Replaces level 0 with `out` bytes a pixel, each written by put(to, from)
// from a source pixel of `in` bytes. -1 with code 5 (level 0 kept) without memory.
template <class Put>
int Repack(txBitmap *b, size_t in, size_t out, const char *tag, Put put) {
  const size_t n = Pixels(b);
  auto *to = static_cast<unsigned char *>(SYS_MemGet(n * out, tag));
  if (!to) return brisk::Fail(SYS_ERR_NOMEM, -1);
  const unsigned char *from = b->image[0];
  for (size_t i = 0; i < n; ++i, from += in) put(to + out * i, from);
  Install(b, to, n * out);
  return 0;
}

// tx32to24 and tx24to32: level 0 from `from` to `to` bits a pixel, the colour
// bytes kept and an added alpha byte opaque, and the record's format set to
// `format` where one is given. 0 without a change for a null record or another depth.
int ChangeDepth(txBitmap *b, int from, int to, std::optional<int> format, const char *tag) {
  errClear();
  if (!b || b->bpp != from) return 0;
  if (PixelStride(b) != from / 8) return brisk::Fail(TX_ERR_DEPTH, -1);
  const bool addAlpha = to == 32;
  auto keepColour = [addAlpha](unsigned char *pixel, const unsigned char *source) {
    std::memcpy(pixel, source, 3);
    if (addAlpha) pixel[3] = 255;
  };
  if (Repack(b, from / 8, to / 8, tag, keepColour) != 0) return -1;
  if (format) b->format = *format;
  b->bpp = to;
  return 0;
}

}  // namespace

extern "C" int txSwapRB(txBitmap *b) {
  errClear();
  if (!b) return brisk::Fail(SYS_ERR_ARG, -1);
  if (b->bpp < 24 || b->order == TX_ORDER_DXT) return brisk::Fail(TX_ERR_UNKNOWN, -1);
  size_t c = static_cast<size_t>(b->bpp) / 8;
  size_t w = c >= 6 ? 2 : 1;  // 16-bit channels swap as pairs of bytes
  for (int level = 0; level < b->levels && level < TX_MAX_LEVELS; ++level) {
    unsigned char *p = b->image[level];
    if (!p) continue;
    size_t size = b->imageSize[level];
    for (size_t i = 0; i + c <= size; i += c)
      for (size_t k = 0; k < w; ++k) std::swap(p[i + k], p[i + 2 * w + k]);
  }
  return 0;
}

extern "C" int tx32to24(txBitmap *b) { return ChangeDepth(b, 32, 24, TX_FORMAT_RGB, "tx32to24"); }

extern "C" int tx24to32(txBitmap *b) { return ChangeDepth(b, 24, 32, std::nullopt, "tx24to32"); }

extern "C" int tx24to8(txBitmap *b, int channel) {
  errClear();
  if (!b || b->bpp < 24) return brisk::Fail(TX_ERR_DEPTH, -1);
  const int c = PixelStride(b);
  if (!c) return brisk::Fail(TX_ERR_DEPTH, -1);
  if (channel < 0 || channel >= c) return brisk::Fail(SYS_ERR_ARG, -1);
  auto pick = [channel](unsigned char *grey, const unsigned char *pixel) { *grey = pixel[channel]; };
  if (Repack(b, c, 1, "tx24to8", pick) != 0) return -1;
  b->format = TX_FORMAT_GREY;
  b->bpp = 8;
  return 0;
}

extern "C" int tx8to24(txBitmap *b) {
  errClear();
  if (!b || b->bpp != 8 || PixelStride(b) != 1) return brisk::Fail(TX_ERR_DEPTH, -1);
  auto spread = [](unsigned char *pixel, const unsigned char *grey) { std::memset(pixel, *grey, 3); };
  if (Repack(b, 1, 3, "tx8to24", spread) != 0) return -1;
  b->format = TX_FORMAT_RGB;
  b->bpp = 24;
  return 0;
}

extern "C" txBitmap *txIntensity(const txBitmap *b, int weighted) {
  errClear();
  if (!b) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
  int c = b->bpp >= 24 ? PixelStride(b) : 0;
  if (!c) return brisk::Fail(TX_ERR_DEPTH, nullptr);
  BitmapPtr out(TL_NEW_BITMAP("txIntensity: struct"));
  if (!out) return nullptr;
  size_t n = Pixels(b);
  out->image[0] = static_cast<unsigned char *>(SYS_MemGet(n, "txIntensity: bitmap"));
  if (!out->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  out->width = b->width;
  out->height = b->height;
  out->bpp = 8;
  out->imageSize[0] = static_cast<unsigned>(n);
  const unsigned char *in = b->image[0];
  for (size_t i = 0; i < n; ++i, in += c) {
    unsigned c0 = in[0], c1 = in[1], c2 = in[2];
    out->image[0][i] = static_cast<unsigned char>(weighted ? (77 * c0 + 150 * c1 + 29 * c2) >> 8 : (c0 + c1 + c2) / 3);
  }
  return out.release();
}

extern "C" void txExpandPalette(const unsigned char *indices, unsigned char *destination, int count,
                                const unsigned char *palette) {
  for (int i = 0; i < count; ++i, destination += 3) std::memcpy(destination, palette + 4 * indices[i], 3);
}

extern "C" int txInvert(txBitmap *b) {
  if (!b || !b->image[0]) return brisk::Fail(SYS_ERR_ARG, -1);
  for (unsigned i = 0; i < b->imageSize[0]; ++i) b->image[0][i] = static_cast<unsigned char>(~b->image[0][i]);
  return 0;
}

extern "C" int txScale(txBitmap *b, int width, int height) {
  errClear();
  TL_LOG(SYS_LOG_INFO, "TL", "!!! --- scale to %dx%d\n", width, height);
  if (!b) return brisk::Fail(SYS_ERR_ARG, -1);
  if (width > b->width && height > b->height) {
    TL_LOG(SYS_LOG_INFO, "TL", "!!! Magnify ... please implement me.\n");
    return 0;
  }
  if (width > b->width || height > b->height) {
    TL_LOG(SYS_LOG_INFO, "TL", "!!! Scale ... please implement me.\n");
    return 0;
  }
  if (width < 1 || height < 1) return brisk::Fail(SYS_ERR_ARG, -1);
  const int c = PixelStride(b);
  if (!c) return brisk::Fail(TX_ERR_DEPTH, -1);  // DXT blocks or a level that does not hold its pixels

  // Source column x and row y go to target (x / fx, y / fy), each truncated,
  // with the factors and their inverses in single precision.
  const float fx = static_cast<float>(b->width) / static_cast<float>(width);
  const float fy = static_cast<float>(b->height) / static_cast<float>(height);
  const float ix = 1.0f / fx, iy = 1.0f / fy;

  // One row of accumulators (c sums and a count per target pixel) and the
  // column map; a target row is finished once its last source row is added.
  const size_t nw = static_cast<size_t>(width), cells = static_cast<size_t>(c) + 1;
  const size_t accBytes = nw * cells * sizeof(uint64_t);
  const size_t outBytes = nw * static_cast<size_t>(height) * c;
  const auto accBlock = brisk::OwnMem(static_cast<uint64_t *>(SYS_MemGet(accBytes, "_Shrink: pixel buffer")));
  const size_t columnBytes = static_cast<size_t>(b->width) * sizeof(int);
  const auto columnBlock = brisk::OwnMem(static_cast<int *>(SYS_MemGet(columnBytes, "_Shrink: pixel buffer")));
  auto outBlock = brisk::OwnMem(static_cast<unsigned char *>(SYS_MemGet(outBytes, "_Shrink: bitmap")));
  if (!accBlock || !columnBlock || !outBlock) return brisk::Fail(SYS_ERR_NOMEM, -1);
  uint64_t *acc = accBlock.get();
  int *column = columnBlock.get();
  unsigned char *out = outBlock.get();
  for (int x = 0; x < b->width; ++x)
    column[x] = std::min(static_cast<int>(static_cast<float>(x) * ix), width - 1);

  auto flush = [&](int ty) {
    unsigned char *dst = out + static_cast<size_t>(ty) * nw * c;
    for (size_t t = 0; t < nw; ++t) {
      uint64_t *a = acc + t * cells;
      uint64_t count = a[c];
      if (count) {
        float inv = 1.0f / static_cast<float>(count);
        for (int k = 0; k < c; ++k) {
          float v = static_cast<float>(a[k]) * inv;
          dst[t * c + k] = static_cast<unsigned char>(std::clamp(v, 0.0f, 255.0f));
        }
      }
    }
    std::memset(acc, 0, accBytes);
  };

  const size_t row = static_cast<size_t>(b->width) * c;
  int current = 0;
  for (int y = 0; y < b->height; ++y) {
    int ty = std::min(static_cast<int>(static_cast<float>(y) * iy), height - 1);
    if (ty != current) {
      flush(current);
      current = ty;
    }
    const unsigned char *src = b->image[0] + row * y;
    for (int x = 0; x < b->width; ++x, src += c) {
      uint64_t *a = acc + static_cast<size_t>(column[x]) * cells;
      for (int k = 0; k < c; ++k) a[k] += src[k];
      ++a[c];
    }
  }
  flush(current);

  b->width = width;
  b->height = height;
  Install(b, outBlock.release(), outBytes);
  return 0;
}
