// Private to the image loader: what the DDS and DDZ filters share about
// block formats, keeping or decoding, and skipping levels by texture quality.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

namespace brisk::image {

constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// One block format: DXT1, DXT3, DXT5, or an unknown code kept as 16-byte blocks.
struct BlockFormat {
  const char *name;
  int blockBytes;
  int bpp;           // depth of the decoded layout
  int keptFormat;    // txBitmap.format while the blocks are kept
  int decodedFormat; // txBitmap.format once decoded
  void (*decode)(const unsigned char *, unsigned char *, int, int, int);
  bool keep;         // the loader's keep-compressed switch for it (always for unknown codes)
};

inline BlockFormat BlockFormatOf(uint32_t fourcc) {
  switch (fourcc) {
    case FourCC('D', 'X', 'T', '1'):
      return {"DXT1", 8, 24, TX_DXT1, TX_FORMAT_RGB, dxt1Decompress, g_tl.keepDxt1 != 0};
    case FourCC('D', 'X', 'T', '3'):
      return {"DXT3", 16, 32, TX_DXT3, TX_FORMAT_RGBA, dxt3Decompress, g_tl.keepDxt3 != 0};
    case FourCC('D', 'X', 'T', '5'):
      return {"DXT5", 16, 32, TX_DXT5, TX_FORMAT_RGBA, dxt5Decompress, g_tl.keepDxt5 != 0};
    default:
      return {"unknown", 16, 32, 0, 0, nullptr, true};
  }
}

// Bytes of the blocks of a w x h level; a side that has reached 0 counts as one block.
inline int64_t LevelBlockBytes(int64_t w, int64_t h, int blockBytes) {
  return std::max<int64_t>(1, (w + 3) / 4) * std::max<int64_t>(1, (h + 3) / 4) * blockBytes;
}

// Decoded buffer of a level: its pixels, at least 64 bytes so that whole
// blocks of the smallest levels fit.
inline int64_t LevelPixelBytes(int64_t w, int64_t h, int bpp) {
  return std::max<int64_t>(64, std::max<int64_t>(w, 1) * std::max<int64_t>(h, 1) * (bpp / 8));
}

// Levels dropped from the front of a file of `levels` levels: one at texture
// quality 1, two at quality 2, never all of them.
inline int LevelsToSkip(int levels) {
  int skip = g_tl.quality == 1 ? 1 : g_tl.quality == 2 ? 2 : 0;
  if (levels <= 1) return 0;
  return std::min(skip, levels - 1);
}

}  // namespace brisk::image
