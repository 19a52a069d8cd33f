// Runtime glue: the ".ife" parser behind IfeLoad (runtime/ife.h), without GL
// and without ending the process, so that tests and the fuzz target can run
// it on any bytes. IfeLoad gives it the real texture resolution and turns a
// failure into SYS_FatalError.
//
// Besides what the format itself says, the parser refuses (with a message
// naming the file and the physical line, comments counted):
//   - a file that ends before its declared lines;
//   - a count, param or blend line that is not a whole decimal integer
//     (optional sign, digits, within int32; blanks around it trimmed);
//   - a negative layer or key count;
//   - more than IFE_MAX_LAYERS layers or IFE_MAX_KEYS keys in a layer;
//   - a count whose lines cannot fit in the bytes left in the file (every
//     data line takes at least one byte), so a forged count never leads to
//     a large allocation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/file.h"
#include "runtime/ife.h"
#include "runtime/shortstr.h"

// Gives the GL texture of one layer from its image name. Called once per
// layer, in file order, after the layer's second text line; `prefix` is the
// one handed to IfeParse.
using IfeTextureResolver = std::function<std::int32_t(const ShortString &image, const ShortString &prefix)>;

// Reads an interface from file (already open; `name` only names it in
// messages) into record. True when the whole declared content was read;
// record then owns its layers and keys (release with IfeFree). False with
// the reason in *error ("Interface file <name>, line <n>: ..."): record is
// left untouched and nothing the parser allocated stays behind. Textures
// the resolver gave out are not released.
bool IfeParse(SYS_File_t *file, const char *name, const ShortString &prefix, const IfeTextureResolver &resolve,
              ife_interface *record, std::string *error);

// Releases the layers and keys of record and clears it (textures stay with
// the texture cache). A cleared record is fine.
void IfeFree(ife_interface *record);

// The texture of a special image name (compared with case): true with
// *texture set for "white.tga", "BUF0.JPG".."BUF7.JPG", other names starting
// with "BUF", "RT" and "GLOW"; false for a name the texture cache loads.
bool IfeSpecialTexture(std::string_view image, std::int32_t *texture);

// The file the texture cache loads for an ordinary image name: the name
// itself for an empty prefix, else prefix + "/" + name.
ShortString IfeTexturePath(const ShortString &prefix, const ShortString &image);
