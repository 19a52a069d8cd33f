// Private to the image loader: the module settings shared by the loader and
// its filters, the log helpers, and small record and output helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/file.h"
#include "base/log.h"
#include "base/scoped.h"
#include "image/image.h"

namespace brisk::image {

// Module settings, changed through txOptions and txInit.
struct Settings {
  int debug = 0;            // option 1, from -debug-tl
  int quality = 0;          // option 2: 0 full, 1 half, 2+ quarter
  int order = 0;            // option 3: wanted channel order
  int flip = 0;             // option 4
  int keepDxt1 = 0;         // keep-compressed switches (TX_DXT1 ...)
  int keepDxt3 = 0;
  int keepDxt5 = 0;
  unsigned disableDxt = 0;  // bit 0 DXT1, bit 1 DXT3, bit 2 DXT5; never cleared
  int ddz = 1;              // option 0: DDZ files may keep their blocks
  int alphaMap = 1;         // off while the loader reads an alpha map
  std::string loading;      // name of the file being loaded, for the readers' lines
  // Filter parameters.
  int pngLevel = 9;         // option 11
  int jpegQuality = 75;     // option 9
  int jpegOptimise = 100;   // option 7
  int jpegProgressive = 1;  // option 6
  int jpegBaseline = 1;     // option 5
  int jpegSmoothing = 0;    // option 8
};
extern Settings g_tl;

// Level of the loader's debug lines: shown while -debug-tl (option 1) is on.
inline int DebugLevel() { return g_tl.debug ? SYS_LOG_INFO : SYS_LOG_DEBUG; }
inline const char *LoadingName() { return g_tl.loading.c_str(); }

// The filter comment the TGA writer stores in every file.
inline constexpr const char *kTgaComment = "Created by brisk!quantoven's TGA output filter. v0.3";

// A new zero-filled record with one level, tagged with the reader's tag; null with code 5.
txBitmap *NewBitmap(const char *tag, const char *file, int line);
#define TL_NEW_BITMAP(tag) ::brisk::image::NewBitmap((tag), __FILE_NAME__, __LINE__)

// Releases a record and everything it owns, without touching the error code.
void DropBitmap(txBitmap *&bitmap);

// A record being built: a failure path drops it with everything it holds,
// success hands it on with `release()`.
struct BitmapDrop {
  void operator()(txBitmap *bitmap) const noexcept { DropBitmap(bitmap); }
};
using BitmapPtr = std::unique_ptr<txBitmap, BitmapDrop>;

// txBitmap.format of a decoded layout of bpp bits: 8 indexed (with a
// palette) or grey, 24 RGB, 32 RGBA, any other none.
inline int FormatOfDepth(int bpp, bool indexed) {
  switch (bpp) {
    case 8: return indexed ? TX_FORMAT_INDEX : TX_FORMAT_GREY;
    case 24: return TX_FORMAT_RGB;
    case 32: return TX_FORMAT_RGBA;
    default: return TX_FORMAT_NONE;
  }
}

// Bytes per pixel of level 0 when the record is a sound pixel image
// (not DXT blocks, 8-bit multiple depth, level 0 present and holding at least
// width * height pixels); 0 otherwise.
int PixelStride(const txBitmap *bitmap);

// For writers: whether the record's level 0 holds width x height pixels of
// the depth that its format needs (format 0/1: 24 bits, 2: 32, 3: 8).
bool WritableLevel(const txBitmap *bitmap);

// Name with "_a" placed before the extension of its last path component:
// "a/b.tga" -> "a/b_a.tga", "a/b" -> "a/b_a", "./b" -> "./b_a".
std::string AlphaName(const std::string &name);

// Swaps the rows of a level top to bottom. False (code 5) when the row buffer cannot be had.
bool FlipRows(unsigned char *data, size_t row, int height, const char *tag);

// --- writers ---------------------------------------------------------------------

// The output file of a writer, created through the file layer; null with
// `code` set when it cannot be.
brisk::FilePtr CreateOutput(const char *name, int code);

// Writes size bytes (in pieces the file layer's int can count). False on the first failure.
bool WriteAll(SYS_File_t *file, const void *data, size_t size);

// Red and blue swapped (txSwapRB, when `swap`) for as long as a writer needs
// the other order, and back when it goes. txSwapRB clears the error code, so
// the swap back keeps the one pending.
class SwappedChannels {
 public:
  SwappedChannels(txBitmap *bitmap, bool swap);
  ~SwappedChannels();
  SwappedChannels(const SwappedChannels &) = delete;
  SwappedChannels &operator=(const SwappedChannels &) = delete;

 private:
  txBitmap *bitmap_;
};

}  // namespace brisk::image

// One "[TL]..." line: TL_LOG(level, "TL][tga", "text %d\n", x) writes
// "[TL][tga][file:line:func()] text 1". TL_DEBUG uses the debug switch's level.
#define TL_LOG(level, tag, format, ...) SYS_MSG((level), tag, format, ##__VA_ARGS__)
#define TL_DEBUG(tag, format, ...) SYS_MSG(::brisk::image::DebugLevel(), tag, format, ##__VA_ARGS__)
