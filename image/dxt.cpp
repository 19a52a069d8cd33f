// S3TC block decoders (DXT1, DXT3, DXT5) for the DDS and DDZ filters.
#include <cstdint>

#include "base/log.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

struct Colour {
  uint8_t r, g, b, a;
};

Colour Expand565(uint16_t c) {
  return {static_cast<uint8_t>((c >> 11) << 3), static_cast<uint8_t>(((c >> 5) & 63) << 2),
          static_cast<uint8_t>((c & 31) << 3), 255};
}

uint8_t Mix(int a, int b, int wa, int wb, int add, int div) {
  return static_cast<uint8_t>((wa * a + wb * b + add) / div);
}

// The four colours of an 8-byte colour block. DXT1 blocks whose first colour
// is not above the second use three colours and transparent black.
void ColourTable(const unsigned char *block, bool dxt1, Colour out[4]) {
  const uint16_t c0 = Le16(block), c1 = Le16(block + 2);
  const Colour p = Expand565(c0), q = Expand565(c1);
  out[0] = p;
  out[1] = q;
  if (!dxt1 || c0 > c1) {
    out[2] = {Mix(p.r, q.r, 2, 1, 1, 3), Mix(p.g, q.g, 2, 1, 1, 3), Mix(p.b, q.b, 2, 1, 1, 3), 255};
    out[3] = {Mix(p.r, q.r, 1, 2, 1, 3), Mix(p.g, q.g, 1, 2, 1, 3), Mix(p.b, q.b, 1, 2, 1, 3), 255};
  } else {
    out[2] = {Mix(p.r, q.r, 1, 1, 0, 2), Mix(p.g, q.g, 1, 1, 0, 2), Mix(p.b, q.b, 1, 1, 0, 2), 255};
    out[3] = {0, 0, 0, 0};
  }
}

// The 16 pixels of a colour block, pixel n at row n / 4, column n % 4.
void ColourBlock(const unsigned char *block, bool dxt1, Colour px[16]) {
  Colour table[4];
  ColourTable(block, dxt1, table);
  const uint32_t indices = Le32(block + 4);
  for (int n = 0; n < 16; ++n) px[n] = table[(indices >> (2 * n)) & 3];
}

// Stores a decoded block at block position (bx, by), clipped to the level.
void Store(const Colour px[16], unsigned char *dst, int width, int height, int depth, int bx, int by) {
  const int d = depth / 8;
  for (int n = 0; n < 16; ++n) {
    const int x = bx * 4 + n % 4, y = by * 4 + n / 4;
    if (x >= width || y >= height) continue;
    unsigned char *p = dst + (static_cast<size_t>(y) * width + x) * d;
    p[0] = px[n].r;
    p[1] = px[n].g;
    p[2] = px[n].b;
    if (d >= 4) p[3] = px[n].a;
  }
}

template <typename DecodeBlock>
void DecodeLevel(const unsigned char *blocks, size_t blockBytes, unsigned char *dst, int width, int height, int depth,
                 DecodeBlock decode) {
  if (!blocks || !dst || width < 1 || height < 1 || (depth != 24 && depth != 32)) return;
  const int across = (width + 3) / 4, down = (height + 3) / 4;
  Colour px[16];
  for (int by = 0; by < down; ++by)
    for (int bx = 0; bx < across; ++bx, blocks += blockBytes) {
      decode(blocks, px);
      Store(px, dst, width, height, depth, bx, by);
    }
}

}  // namespace

extern "C" void dxt1Decompress(const unsigned char *blocks, unsigned char *dst, int width, int height, int depth) {
  TL_LOG(SYS_LOG_INFO, "TL][dds", "wxh %dx%d\n", width, height);
  TL_LOG(SYS_LOG_INFO, "TL][dds", "d: %d\n", depth / 8);
  DecodeLevel(blocks, 8, dst, width, height, depth, [](const unsigned char *b, Colour *px) { ColourBlock(b, true, px); });
}

extern "C" void dxt3Decompress(const unsigned char *blocks, unsigned char *dst, int width, int height, int depth) {
  DecodeLevel(blocks, 16, dst, width, height, depth, [](const unsigned char *b, Colour *px) {
    ColourBlock(b + 8, false, px);
    for (int n = 0; n < 16; ++n) {
      const int x = n % 4, y = n / 4;
      px[n].a = static_cast<uint8_t>(((Le16(b + 2 * y) >> (4 * x)) & 15) * 17);
    }
  });
}

extern "C" void dxt5Decompress(const unsigned char *blocks, unsigned char *dst, int width, int height, int depth) {
  DecodeLevel(blocks, 16, dst, width, height, depth, [](const unsigned char *b, Colour *px) {
    ColourBlock(b + 8, false, px);
    const int a0 = b[0], a1 = b[1];
    uint8_t table[8] = {static_cast<uint8_t>(a0), static_cast<uint8_t>(a1)};
    if (a0 > a1) {
      for (int i = 1; i <= 6; ++i) table[i + 1] = Mix(a0, a1, 7 - i, i, 3, 7);
    } else {
      for (int i = 1; i <= 4; ++i) table[i + 1] = Mix(a0, a1, 5 - i, i, 2, 5);
      table[6] = 0;
      table[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= uint64_t{b[2 + i]} << (8 * i);
    for (int n = 0; n < 16; ++n) px[n].a = table[(bits >> (3 * n)) & 7];
  });
}
