// PNM filter: binary grey (P5) and colour (P6) maps with maximum value 255.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr const char *kComment = "Created by brisk!quantoven's PNM output filter";
constexpr size_t kLineLook = 127;  // characters of a header line that are looked at

// The next line without its line end; nothing when no line end follows.
std::optional<std::string_view> NextLine(ByteReader &in) {
  ByteReader ahead = in;
  const auto rest = ahead.bytes(ahead.remaining());
  const void *nl = rest.empty() ? nullptr : std::memchr(rest.data(), '\n', rest.size());
  if (!nl) return std::nullopt;
  std::string_view line = in.text(static_cast<size_t>(static_cast<const uint8_t *>(nl) - rest.data()));
  in.skip(1);
  return line;
}

}  // namespace

extern "C" int pnmIdentify(const unsigned char *p, int size) {
  return p && size >= 3 && p[0] == 'P' && (p[1] == '6' || p[1] == '5') && p[2] == '\n' ? 0 : -1;
}

extern "C" txBitmap *pnmRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, 0);
  int magic = 0;  // 1..6 once the magic line is read
  int width = 0, height = 0;
  bool haveSize = false;

  for (;;) {
    const auto whole = NextLine(in);
    if (!whole) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
    const std::string_view line = whole->substr(0, kLineLook);
    if (!line.empty() && line[0] == '#') continue;
    if (!magic) {
      if (line.size() != 2 || line[0] != 'P' || line[1] < '1' || line[1] > '6')
        return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
      magic = line[1] - '0';
      continue;
    }
    if (!haveSize) {
      std::string copy(line);
      if (std::sscanf(copy.c_str(), "%d %d", &width, &height) != 2) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
      haveSize = true;
      continue;
    }
    if (line == "255") break;
  }

  if (magic != 5 && magic != 6) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
  const int c = magic == 5 ? 1 : 3;
  auto bytes = PixelBytes(width, height, c);
  if (!bytes) return brisk::Fail(TX_ERR_UNKNOWN, nullptr);
  const auto pixels = in.bytes(static_cast<size_t>(*bytes));
  if (in.failed()) return brisk::Fail(TX_ERR_SHORT, nullptr);

  BitmapPtr b(TL_NEW_BITMAP("pnmRead: struct"));
  if (!b) return nullptr;
  b->order = TX_ORDER_BGR;
  b->format = magic == 5 ? TX_FORMAT_GREY : TX_FORMAT_RGB;
  b->bpp = 8 * c;
  b->width = width;
  b->height = height;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "bmpRead: bitmap"));
  if (!b->image[0]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  std::memcpy(b->image[0], pixels.data(), pixels.size());
  // Blue first, like the other images of order 0.
  if (magic == 6) txSwapRB(b.get());

  TL_DEBUG("TL][pnm", "PNM: %s\n", LoadingName());
  TL_DEBUG("TL][pnm", " size: %dx%d bits: %d\n", b->width, b->height, b->bpp);
  TL_DEBUG("TL][pnm", " imagesize[0]: %lu\n", static_cast<unsigned long>(b->imageSize[0]));
  return b.release();
}

extern "C" int pnmWrite(const char *name, txBitmap *b) {
  if (!b || !name) return brisk::Fail(SYS_ERR_ARG, -1);
  if (b->format != TX_FORMAT_RGB && b->format != TX_FORMAT_BGR && b->format != TX_FORMAT_GREY)
    return brisk::Fail(TX_ERR_UNKNOWN, -1);
  if (!WritableLevel(b)) return brisk::Fail(TX_ERR_UNKNOWN, -1);
  TL_DEBUG("TL][pnm", "filename ( write ): %s\n", name);
  TL_DEBUG("TL][pnm", " size: %dx%d\n", b->width, b->height);
  TL_DEBUG("TL][pnm", " bits: %d\n", b->bpp);
  TL_DEBUG("TL][pnm", " imagesize[0]: %u\n", b->imageSize[0]);
  TL_DEBUG("TL][pnm", " comment: %s\n", kComment);

  brisk::FilePtr out = CreateOutput(name, SYS_ERR_CREATE);
  if (!out) return -1;
  char header[256];
  int n = std::snprintf(header, sizeof header, "%s\n# %s\n%d %d\n255\n", b->format == TX_FORMAT_GREY ? "P5" : "P6",
                        kComment, b->width, b->height);
  // PPM stores red first: blue-first data (format 0) is swapped for the write and back.
  SwappedChannels swapped(b, b->format == TX_FORMAT_RGB);
  if (!WriteAll(out.get(), header, static_cast<size_t>(n)) || !WriteAll(out.get(), b->image[0], b->imageSize[0]))
    return brisk::Fail(SYS_ERR_CREATE, -1);
  return 0;
}
