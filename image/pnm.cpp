// PNM filter: binary grey (P5) and colour (P6) maps with maximum value 255.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/log.h"
#include "base/mem.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr const char *kComment = "Created by brisk!quantoven's PNM output filter";
constexpr size_t kLineLook = 127;  // characters of a header line that are looked at

txBitmap *Fail(txBitmap *b, int code) {
  DropBitmap(b);
  errSetLastError(code);
  return nullptr;
}

}  // namespace

extern "C" int pnmIdentify(const unsigned char *p, int size) {
  return p && size >= 3 && p[0] == 'P' && (p[1] == '6' || p[1] == '5') && p[2] == '\n' ? 0 : -1;
}

extern "C" txBitmap *pnmRead(const unsigned char *buffer, int size) {
  const size_t total = buffer && size > 0 ? static_cast<size_t>(size) : 0;
  const char *text = reinterpret_cast<const char *>(buffer);
  size_t pos = 0;
  int magic = 0;  // 1..6 once the magic line is read
  int width = 0, height = 0;
  bool haveSize = false;

  for (;;) {
    const void *nl = total > pos ? std::memchr(text + pos, '\n', total - pos) : nullptr;
    if (!nl) {
      errSetLastError(TX_ERR_UNKNOWN);
      return nullptr;
    }
    const size_t end = static_cast<size_t>(static_cast<const char *>(nl) - text);
    std::string_view line(text + pos, std::min(end - pos, kLineLook));
    pos = end + 1;
    if (!line.empty() && line[0] == '#') continue;
    if (!magic) {
      if (line.size() != 2 || line[0] != 'P' || line[1] < '1' || line[1] > '6') {
        errSetLastError(TX_ERR_UNKNOWN);
        return nullptr;
      }
      magic = line[1] - '0';
      continue;
    }
    if (!haveSize) {
      std::string copy(line);
      if (std::sscanf(copy.c_str(), "%d %d", &width, &height) != 2) {
        errSetLastError(TX_ERR_UNKNOWN);
        return nullptr;
      }
      haveSize = true;
      continue;
    }
    if (line == "255") break;
  }

  if (magic != 5 && magic != 6) {
    errSetLastError(TX_ERR_UNKNOWN);
    return nullptr;
  }
  const int c = magic == 5 ? 1 : 3;
  auto bytes = PixelBytes(width, height, c);
  if (!bytes) {
    errSetLastError(TX_ERR_UNKNOWN);
    return nullptr;
  }
  if (static_cast<uint64_t>(*bytes) > total - pos) {
    errSetLastError(TX_ERR_SHORT);
    return nullptr;
  }

  txBitmap *b = TL_NEW_BITMAP("pnmRead: struct");
  if (!b) return nullptr;
  b->order = TX_ORDER_BGR;
  b->format = magic == 5 ? TX_FORMAT_GREY : TX_FORMAT_RGB;
  b->bpp = 8 * c;
  b->width = width;
  b->height = height;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "bmpRead: bitmap"));
  if (!b->image[0]) return Fail(b, SYS_ERR_NOMEM);
  std::memcpy(b->image[0], buffer + pos, static_cast<size_t>(*bytes));
  // Blue first, like the other images of order 0.
  if (magic == 6) txSwapRB(b);

  TL_DEBUG("TL][pnm", "PNM: %s\n", LoadingName());
  TL_DEBUG("TL][pnm", " size: %dx%d bits: %d\n", b->width, b->height, b->bpp);
  TL_DEBUG("TL][pnm", " imagesize[0]: %lu\n", static_cast<unsigned long>(b->imageSize[0]));
  return b;
}

extern "C" int pnmWrite(const char *name, txBitmap *b) {
  if (!b || !name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  if (b->format != TX_FORMAT_RGB && b->format != TX_FORMAT_BGR && b->format != TX_FORMAT_GREY) {
    errSetLastError(TX_ERR_UNKNOWN);
    return -1;
  }
  if (!WritableLevel(b)) {
    errSetLastError(TX_ERR_UNKNOWN);
    return -1;
  }
  TL_DEBUG("TL][pnm", "filename ( write ): %s\n", name);
  TL_DEBUG("TL][pnm", " size: %dx%d\n", b->width, b->height);
  TL_DEBUG("TL][pnm", " bits: %d\n", b->bpp);
  TL_DEBUG("TL][pnm", " imagesize[0]: %u\n", b->imageSize[0]);
  TL_DEBUG("TL][pnm", " comment: %s\n", kComment);

  OutFile out(name);
  if (!out.ok()) {
    errSetLastError(SYS_ERR_CREATE);
    return -1;
  }
  char header[256];
  int n = std::snprintf(header, sizeof header, "%s\n# %s\n%d %d\n255\n", b->format == TX_FORMAT_GREY ? "P5" : "P6",
                        kComment, b->width, b->height);
  // PPM stores red first: blue-first data (format 0) is swapped for the write and back.
  const bool swap = b->format == TX_FORMAT_RGB;
  if (swap) txSwapRB(b);
  bool ok = out.write(header, static_cast<size_t>(n)) && out.write(b->image[0], b->imageSize[0]);
  if (swap) txSwapRB(b);
  if (!ok) {
    errSetLastError(SYS_ERR_CREATE);
    return -1;
  }
  return 0;
}
