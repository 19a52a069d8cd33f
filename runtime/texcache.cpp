// Runtime glue: the texture cache (see texcache.h).
#include "runtime/texcache.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>

#include "base/base.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/registry.h"

namespace {

constexpr txNode EmptyNode() {
  txNode n{};
  n.name.assign("empty");
  n.texture = 0;
  n.loaded = 0;
  n.free = 1;
  n.mode = TEXCACHE_LINEAR_MIPMAP;
  n.refs = 0;
  return n;
}

constexpr std::array<txNode, TEXCACHE_ENTRIES> EmptyTable() {
  std::array<txNode, TEXCACHE_ENTRIES> t{};
  for (auto &n : t) n = EmptyNode();
  return t;
}

// Starts out as a reset leaves it, so a load before the first reset finds room.
constinit std::array<txNode, TEXCACHE_ENTRIES> g_cache = EmptyTable();

// Rows of the framework's images are packed; GL's default assumes rows padded
// to four bytes and would read past the end of odd-width RGB images. The
// caller's alignment is given back when the upload ends.
class PackedRows {
 public:
  PackedRows() {
    rgl::glGetIntegerv(GL_UNPACK_ALIGNMENT, &saved_);
    rgl::glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  }
  ~PackedRows() { rgl::glPixelStorei(GL_UNPACK_ALIGNMENT, saved_); }
  PackedRows(const PackedRows &) = delete;
  PackedRows &operator=(const PackedRows &) = delete;

 private:
  GLint saved_ = 4;
};

// Level 0 goes; the further levels move up one place.
void DropFirstLevel(txBitmap *image) {
  SYS_MemFree(image->image[0]);
  for (int i = 0; i + 1 < TX_MAX_LEVELS; ++i) {
    image->image[i] = image->image[i + 1];
    image->imageSize[i] = image->imageSize[i + 1];
  }
  image->image[TX_MAX_LEVELS - 1] = nullptr;
  image->imageSize[TX_MAX_LEVELS - 1] = 0;
  --image->levels;
  image->width = std::max(image->width >> 1, 1);
  image->height = std::max(image->height >> 1, 1);
}

// Brings an image within glMaxTextureSize, with the two log lines. An image
// with its own mipmaps loses its largest levels (their blocks cannot be
// scaled and the smaller levels must stay in step); a single level is shrunk.
void FitTextureSize(txBitmap *image, const ShortString &name) {
  const int limit = glMaxTextureSize;
  if (limit <= 0 || (image->width <= limit && image->height <= limit)) return;
  const int w = std::min(image->width, limit), h = std::min(image->height, limit);
  SYS_WriteLn((" - scaling down " + std::string(name.view())).c_str());
  SYS_WriteLn(("   - " + std::to_string(image->width) + "x" + std::to_string(image->height) + " -> " +
               std::to_string(w) + "x" + std::to_string(h))
                  .c_str());
  while (image->levels > 1 && (image->width > limit || image->height > limit)) DropFirstLevel(image);
  if (image->width > limit || image->height > limit) txScale(image, w, h);
}

// Level 0 of an indexed image looked up in its palette, as the loader gives a
// colour image: channels in the wanted order, three bytes a pixel, or four
// when the palette carries alpha (only a PNG's entries do: the fourth byte of
// a BMP entry is reserved). Null, with *components untouched, for any other
// image and for one without a palette or with fewer bytes than pixels.
brisk::MemPtr<unsigned char> ExpandIndexed(const txBitmap *image, int *components) {
  if (image->order == TX_ORDER_DXT || image->format != TX_FORMAT_INDEX || image->bpp != 8 || image->levels != 1 ||
      !image->palette || !image->image[0] || image->width <= 0 || image->height <= 0)
    return {};
  const std::uint64_t count = static_cast<std::uint64_t>(image->width) * static_cast<std::uint64_t>(image->height);
  if (count > image->imageSize[0] || count * 4 > static_cast<std::uint64_t>(INT_MAX)) return {};

  // Indices past the entries the record holds find black.
  std::array<unsigned char, 256 * 4> entries{};
  const int held = SYS_MemSize(image->palette);
  std::memcpy(entries.data(), image->palette, static_cast<std::size_t>(std::clamp(held, 0, 256 * 4)));
  bool alpha = false;
  if (image->fileType == TX_FILE_PNG)
    for (std::size_t i = 3; i < entries.size(); i += 4) alpha = alpha || entries[i] != 255;
  const int c = alpha ? 4 : 3;
  const bool swap = image->order != txOptions(TX_OPT_GET_ORDER, 0);

  auto out = brisk::OwnMem(static_cast<unsigned char *>(SYS_MemGet(count * c, "TexCache: palette pixels")));
  if (!out) return {};
  unsigned char *p = out.get();
  for (std::uint64_t i = 0; i < count; ++i, p += c) {
    const unsigned char *e = &entries[4 * std::size_t{image->image[0][i]}];
    p[0] = e[swap ? 2 : 0];
    p[1] = e[1];
    p[2] = e[swap ? 0 : 2];
    if (alpha) p[3] = e[3];
  }
  *components = c;
  return out;
}

// The colour record an indexed image shows, sharing everything but level 0
// with it; pixels own that level.
txBitmap ColourRecord(const txBitmap *image, unsigned char *pixels, int components) {
  txBitmap colour = *image;
  colour.image[0] = pixels;
  colour.imageSize[0] = static_cast<unsigned>(image->width) * static_cast<unsigned>(image->height) *
                        static_cast<unsigned>(components);
  colour.bpp = 8 * components;
  colour.format = components == 4 ? TX_FORMAT_RGBA : TX_FORMAT_RGB;
  colour.order = txOptions(TX_OPT_GET_ORDER, 0);
  colour.palette = nullptr;
  return colour;
}

// Turns a loaded indexed image into the colour image it shows, before it is
// fitted (the box filter must average colours, not indices) and uploaded.
void ExpandInPlace(txBitmap *image) {
  int components = 0;
  auto pixels = ExpandIndexed(image, &components);
  if (!pixels) return;
  unsigned char *palette = image->palette;
  SYS_MemFree(image->image[0]);
  SYS_MemFree(palette);
  *image = ColourRecord(image, pixels.release(), components);
}

[[noreturn]] void Fatal(const char *what, const ShortString &name) {
  // The log's fixed text, spelling included.
  SYS_FatalError((std::string("Error occoured ! ") + what + " ( " + std::string(name.view()) + " )").c_str());
}

}  // namespace

extern "C" {

void TexCacheReset(void) {
  for (auto &n : g_cache) {
    const std::int32_t bpp = n.bpp;
    n = EmptyNode();
    n.bpp = bpp;
  }
}

std::int32_t TexCacheLoad(const char *text, std::int32_t mode) {
  const ShortString name(text ? std::string_view(text) : std::string_view());
  // DXT data stay compressed only in the formats the driver accepts.
  txOptions(TX_DXT1, glCaps.dxt1);
  txOptions(TX_DXT3, glCaps.dxt3);
  txOptions(TX_DXT5, glCaps.dxt5);

  // The search goes on past the first match, as intended: every matching
  // entry gains a reference and the last one's texture is returned.
  std::int32_t result = 0;
  for (auto &n : g_cache) {
    if (n.name.view() == name.view() && n.mode == mode && n.loaded == 1 && n.free == 0) {
      ++n.refs;
      result = n.texture;
    }
  }
  if (result != 0) return result;

  auto slot = std::find_if(g_cache.begin(), g_cache.end(), [](const txNode &n) { return n.free == 1; });
  if (slot == g_cache.end()) Fatal("Texture cache full.", name);
  txNode &node = *slot;
  node.name = name;
  node.free = 0;
  node.mode = mode;
  node.refs = 1;

  txBitmap *image = txLoad(SYS_PChar(name));
  if (!image) Fatal("Texture Loader Error.", name);
  ExpandInPlace(image);
  FitTextureSize(image, name);

  GLuint texture = 0;
  rgl::glGenTextures(1, &texture);
  node.texture = static_cast<std::int32_t>(texture);
  rgl::glBindTexture(GL_TEXTURE_2D, texture);
  node.bpp = image->bpp;

  static constexpr struct {
    GLint mag, min;
  } kFilters[] = {{GL_NEAREST, GL_NEAREST},
                  {GL_LINEAR, GL_LINEAR},
                  {GL_NEAREST, GL_NEAREST_MIPMAP_NEAREST},
                  {GL_LINEAR, GL_LINEAR_MIPMAP_LINEAR}};
  if (mode >= 0 && mode <= 3) {
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, kFilters[mode].mag);
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, kFilters[mode].min);
    TexCacheUpload(image, mode < 2);
  }

  node.loaded = 1;
  txFree(&image);
  return node.texture;
}

void TexCacheUpload(const txBitmap *image, int oneLevel) {
  if (!image || image->levels < 1) return;
  // Palette indices go up as the colours they stand for.
  int expanded = 0;
  if (auto pixels = ExpandIndexed(image, &expanded)) {
    const txBitmap colour = ColourRecord(image, pixels.get(), expanded);
    TexCacheUpload(&colour, oneLevel);
    return;
  }
  const int levels = std::min(image->levels, static_cast<int>(TX_MAX_LEVELS));
  PackedRows packed;

  if (image->order == TX_ORDER_DXT) {
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE);
    GLsizei w = image->width, h = image->height;
    for (int i = 0; i < levels; ++i) {
      w = std::max(w, 1);
      h = std::max(h, 1);
      if (rgl::glCompressedTexImage2DARB && image->image[i])
        rgl::glCompressedTexImage2DARB(GL_TEXTURE_2D, i, static_cast<GLenum>(image->format), w, h, 0,
                                       static_cast<GLsizei>(image->imageSize[i]), image->image[i]);
      w /= 2;
      h /= 2;
    }
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    return;
  }

  // The pixel layout follows the bytes per pixel, so GL never reads more
  // than a level holds.
  const int components = image->bpp / 8;
  static constexpr GLenum kLayouts[] = {GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
  if (components < 1 || components > 4 || image->bpp % 8 != 0) return;
  const GLenum layout = kLayouts[components - 1];

  if (levels > 1) {
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE);
    GLsizei w = image->width, h = image->height;
    for (int i = 0; i < levels; ++i) {
      w = std::max(w, 1);
      h = std::max(h, 1);
      if (image->image[i] &&
          static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * components <= image->imageSize[i])
        rgl::glTexImage2D(GL_TEXTURE_2D, i, components, w, h, 0, layout, GL_UNSIGNED_BYTE, image->image[i]);
      w /= 2;
      h /= 2;
    }
    rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    return;
  }

  if (!image->image[0] || static_cast<std::uint64_t>(image->width) * static_cast<std::uint64_t>(image->height) *
                                  components > image->imageSize[0])
    return;
  if (!oneLevel)
    rgl::gluBuild2DMipmaps(GL_TEXTURE_2D, components, image->width, image->height, layout, GL_UNSIGNED_BYTE,
                           image->image[0]);
  else
    rgl::glTexImage2D(GL_TEXTURE_2D, 0, components, image->width, image->height, 0, layout, GL_UNSIGNED_BYTE,
                      image->image[0]);
}

void TexCacheRelease(std::int32_t texture) {
  for (auto &n : g_cache) {
    if (n.texture != texture || n.free != 0 || n.loaded != 1) continue;
    if (--n.refs < 1) {
      const GLuint name = static_cast<GLuint>(n.texture);
      rgl::glDeleteTextures(1, &name);
      n.free = 1;
      n.loaded = 0;
    }
  }
}

const txNode *TexCacheEntry(int index) {
  return index >= 0 && index < TEXCACHE_ENTRIES ? &g_cache[static_cast<std::size_t>(index)] : nullptr;
}

}  // extern "C"
