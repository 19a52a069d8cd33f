// Runtime glue: the texture cache. Turns image files into GL textures and
// shares one texture between every load of the same file name with the same
// filter mode, counting references. Its table is a fixed array of 1001
// entries; nothing is allocated per entry. Main thread only, with the show's
// GL context current.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "runtime/shortstr.h"

// One cache entry.
typedef struct txNode {
  ShortString name;     // file name as the caller gave it; "empty" after a reset
  std::int32_t texture; // GL texture name; 0 after a reset (kept once deleted)
  std::uint8_t loaded;  // 1 once the texture has been created and filled
  std::uint8_t free;    // 1 when a new load may take the entry
  std::int32_t mode;    // filter mode the texture was made with; 3 after a reset
  std::int32_t refs;    // loads that returned this texture and were not released
  std::int32_t bpp;     // depth of the image as uploaded
} txNode;

enum { TEXCACHE_ENTRIES = 1001 };

// Filter modes: magnification / minification filter, levels uploaded.
enum {
  TEXCACHE_NEAREST = 0,         // GL_NEAREST / GL_NEAREST, one level
  TEXCACHE_LINEAR = 1,          // GL_LINEAR / GL_LINEAR, one level
  TEXCACHE_NEAREST_MIPMAP = 2,  // GL_NEAREST / GL_NEAREST_MIPMAP_NEAREST, mipmap chain
  TEXCACHE_LINEAR_MIPMAP = 3    // GL_LINEAR / GL_LINEAR_MIPMAP_LINEAR, mipmap chain
};

extern "C" {

// Empties every entry (name "empty", texture 0, not loaded, free, mode 3,
// no references). GL textures are not deleted.
void TexCacheReset(void);

// The texture of name (taken as a short string: cut to 255 characters, case
// significant) made with mode. A name and mode already loaded give the same
// texture again with one more reference, without reading anything and
// leaving the binding alone. Otherwise the image is read (txLoad), shrunk
// to glMaxTextureSize where it is larger (an indexed image first becomes
// the colour image its palette gives), uploaded into a new texture that
// stays bound to GL_TEXTURE_2D, and kept. An image that cannot be read, or a
// full table, is fatal (SYS_FatalError). A mode outside 0..3 gives a texture
// without image.
std::int32_t TexCacheLoad(const char *name, std::int32_t mode);

// Fills the texture bound to GL_TEXTURE_2D from image: its DXT blocks, its
// own levels, a mipmap chain built from level 0 (oneLevel 0), or level 0 alone.
// An indexed image goes up as the colours of its palette (RGB, or RGBA when
// a PNG palette carries alpha), channels in the loader's wanted order.
void TexCacheUpload(const txBitmap *image, int oneLevel);

// Drops one reference of every loaded entry holding texture; an entry whose
// last reference goes deletes its GL texture and becomes free.
void TexCacheRelease(std::int32_t texture);

// Read access to entry index (0..1000), null outside.
const txNode *TexCacheEntry(int index);

}  // extern "C"

// TexCacheLoad for a short string of any capacity.
template <std::size_t N>
inline std::int32_t TexCacheLoad(const ShortStr<N> &name, std::int32_t mode) {
  char text[N + 1];
  name.copy_to(text);
  return TexCacheLoad(text, mode);
}
