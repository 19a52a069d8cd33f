// Image loader: channel and depth conversions, intensity images and the
// box-filter shrink.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/log.h"
#include "base/mem.h"
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

}  // namespace

extern "C" int txSwapRB(txBitmap *b) {
  errClear();
  if (!b) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  if (b->bpp < 24 || b->order == TX_ORDER_DXT) {
    errSetLastError(TX_ERR_UNKNOWN);
    return -1;
  }
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

extern "C" int tx32to24(txBitmap *b) {
  errClear();
  if (!b || b->bpp != 32) return 0;
  if (PixelStride(b) != 4) {
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }
  size_t n = Pixels(b);
  auto *out = static_cast<unsigned char *>(SYS_MemGet(n * 3, "tx32to24"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const unsigned char *in = b->image[0];
  for (size_t i = 0; i < n; ++i, in += 4) std::memcpy(out + 3 * i, in, 3);
  Install(b, out, n * 3);
  b->format = TX_FORMAT_RGB;
  b->bpp = 24;
  return 0;
}

extern "C" int tx24to32(txBitmap *b) {
  errClear();
  if (!b || b->bpp != 24) return 0;
  if (PixelStride(b) != 3) {
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }
  size_t n = Pixels(b);
  auto *out = static_cast<unsigned char *>(SYS_MemGet(n * 4, "tx24to32"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const unsigned char *in = b->image[0];
  for (size_t i = 0; i < n; ++i, in += 3) {
    std::memcpy(out + 4 * i, in, 3);
    out[4 * i + 3] = 255;
  }
  Install(b, out, n * 4);
  b->bpp = 32;
  return 0;
}

extern "C" int tx24to8(txBitmap *b, int channel) {
  errClear();
  if (!b || b->bpp < 24) {
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }
  int c = PixelStride(b);
  if (!c) {
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }
  if (channel < 0 || channel >= c) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  size_t n = Pixels(b);
  auto *out = static_cast<unsigned char *>(SYS_MemGet(n, "tx24to8"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const unsigned char *in = b->image[0] + channel;
  for (size_t i = 0; i < n; ++i) out[i] = in[i * c];
  Install(b, out, n);
  b->format = TX_FORMAT_GREY;
  b->bpp = 8;
  return 0;
}

extern "C" int tx8to24(txBitmap *b) {
  errClear();
  if (!b || b->bpp != 8 || PixelStride(b) != 1) {
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }
  size_t n = Pixels(b);
  auto *out = static_cast<unsigned char *>(SYS_MemGet(n * 3, "tx8to24"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const unsigned char *in = b->image[0];
  for (size_t i = 0; i < n; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
  Install(b, out, n * 3);
  b->format = TX_FORMAT_RGB;
  b->bpp = 24;
  return 0;
}

extern "C" txBitmap *txIntensity(const txBitmap *b, int weighted) {
  errClear();
  if (!b) {
    errSetLastError(TX_ERR_UNKNOWN);
    return nullptr;
  }
  int c = b->bpp >= 24 ? PixelStride(b) : 0;
  if (!c) {
    errSetLastError(TX_ERR_DEPTH);
    return nullptr;
  }
  auto *out = static_cast<txBitmap *>(SYS_MemGet(sizeof(txBitmap), "txIntensity: struct"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  size_t n = Pixels(b);
  out->image[0] = static_cast<unsigned char *>(SYS_MemGet(n, "txIntensity: bitmap"));
  if (!out->image[0]) {
    SYS_MemFree(out);
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  out->width = b->width;
  out->height = b->height;
  out->bpp = 8;
  out->levels = 1;
  out->imageSize[0] = static_cast<unsigned>(n);
  const unsigned char *in = b->image[0];
  for (size_t i = 0; i < n; ++i, in += c) {
    unsigned c0 = in[0], c1 = in[1], c2 = in[2];
    out->image[0][i] = static_cast<unsigned char>(weighted ? (77 * c0 + 150 * c1 + 29 * c2) >> 8 : (c0 + c1 + c2) / 3);
  }
  return out;
}

extern "C" void txExpandPalette(const unsigned char *indices, unsigned char *destination, int count,
                                const unsigned char *palette) {
  for (int i = 0; i < count; ++i, destination += 3) std::memcpy(destination, palette + 4 * indices[i], 3);
}

extern "C" int txInvert(txBitmap *b) {
  if (!b || !b->image[0]) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  for (unsigned i = 0; i < b->imageSize[0]; ++i) b->image[0][i] = static_cast<unsigned char>(~b->image[0][i]);
  return 0;
}

extern "C" int txScale(txBitmap *b, int width, int height) {
  errClear();
  TL_LOG(SYS_LOG_INFO, "TL", "!!! --- scale to %dx%d\n", width, height);
  if (!b) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  if (width > b->width && height > b->height) {
    TL_LOG(SYS_LOG_INFO, "TL", "!!! Magnify ... please implement me.\n");
    return 0;
  }
  if (width > b->width || height > b->height) {
    TL_LOG(SYS_LOG_INFO, "TL", "!!! Scale ... please implement me.\n");
    return 0;
  }
  if (width < 1 || height < 1) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  const int c = PixelStride(b);
  if (!c) {  // DXT blocks or a level that does not hold its pixels
    errSetLastError(TX_ERR_DEPTH);
    return -1;
  }

  // Source column x and row y go to target (x / fx, y / fy), each truncated,
  // with the factors and their inverses in single precision.
  const float fx = static_cast<float>(b->width) / static_cast<float>(width);
  const float fy = static_cast<float>(b->height) / static_cast<float>(height);
  const float ix = 1.0f / fx, iy = 1.0f / fy;

  // One row of accumulators (c sums and a count per target pixel) and the
  // column map; a target row is finished once its last source row is added.
  const size_t nw = static_cast<size_t>(width), cells = static_cast<size_t>(c) + 1;
  auto *acc = static_cast<uint64_t *>(SYS_MemGet(nw * cells * sizeof(uint64_t), "_Shrink: pixel buffer"));
  auto *column = static_cast<int *>(SYS_MemGet(static_cast<size_t>(b->width) * sizeof(int), "_Shrink: pixel buffer"));
  auto *out = static_cast<unsigned char *>(SYS_MemGet(nw * static_cast<size_t>(height) * c, "_Shrink: bitmap"));
  if (!acc || !column || !out) {
    SYS_MemFree(acc);
    SYS_MemFree(column);
    SYS_MemFree(out);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
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
    std::memset(acc, 0, nw * cells * sizeof(uint64_t));
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

  SYS_MemFree(acc);
  SYS_MemFree(column);
  b->width = width;
  b->height = height;
  Install(b, out, nw * static_cast<size_t>(height) * c);
  return 0;
}
