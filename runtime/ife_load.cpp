// Runtime glue: IfeLoad, the parser with the show's texture resolution and
// the fatal end on any failure.
#include <string>

#include "base/base.h"
#include "base/scoped.h"
#include "runtime/gl.h"
#include "runtime/ife.h"
#include "runtime/ife_parse.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"

namespace {

// A special name's slot, or the file through the texture cache (left bound
// after a fresh load). Either way the texture bound at that moment gets
// clamped wraps: after a cache hit or a special name that is whichever
// texture was bound last.
std::int32_t LayerTexture(const ShortString &image, const ShortString &prefix) {
  std::int32_t texture = 0;
  if (!IfeSpecialTexture(image.view(), &texture)) texture = TexCacheLoad(IfeTexturePath(prefix, image), TEXCACHE_LINEAR);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  return texture;
}

}  // namespace

extern "C" void IfeLoad(ife_interface *record, const ShortString *name, const ShortString *prefix) {
  const std::string file_name(name ? name->view() : std::string_view());
  SYS_WriteLn(("[ife] load: " + file_name).c_str());
  if (!record) SYS_FatalError(("Interface file " + file_name + ": no record to load into").c_str());
  brisk::FilePtr file(SYS_FileOpen(file_name.c_str(), SYS_FILE_TEXT));
  if (!file) SYS_FatalError(("Unable to open " + file_name).c_str());
  std::string error;
  if (!IfeParse(file.get(), file_name.c_str(), prefix ? *prefix : ShortString(), LayerTexture, record, &error)) {
    file.reset();
    SYS_FatalError(error.c_str());
  }
}
