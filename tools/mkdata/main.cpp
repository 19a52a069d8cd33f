// mkdata OUTDIR: makes the show's textures into OUTDIR, the same bytes on
// every run, with the framework's own image writers:
//   piggy.tga   the bars' sprite, a 16 by 16 pig face with alpha
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/base.h"
#include "image/image.h"

namespace {

// One character per pixel, top row first; '.' is transparent.
constexpr const char *kPiggy[16] = {
    "................",
    "..PP........PP..",
    ".PeeP......PeeP.",
    ".PeePPPPPPPPeeP.",
    ".PPPPPPPPPPPPPP.",
    "PPPPPPPPPPPPPPPP",
    "PPPkkPPPPPPkkPPP",
    "PPPkwPPPPPPkwPPP",
    "PPPPPPPPPPPPPPPP",
    "PPPPPssssssPPPPP",
    "PPPPssnssnssPPPP",
    "PPPPssnssnssPPPP",
    "PPPPPssssssPPPPP",
    ".PPPPPPPPPPPPPP.",
    "..PPPPPPPPPPPP..",
    "....PPPPPPPP....",
};

struct Colour {
  char key;
  std::uint8_t r, g, b, a;
};
constexpr Colour kPalette[] = {
    {'.', 0, 0, 0, 0},         {'P', 255, 170, 186, 255}, {'e', 226, 110, 140, 255}, {'k', 40, 22, 34, 255},
    {'w', 255, 255, 255, 255}, {'s', 240, 128, 156, 255}, {'n', 120, 40, 64, 255},
};

const Colour &Lookup(char key) {
  for (const Colour &c : kPalette)
    if (c.key == key) return c;
  return kPalette[0];
}

// A 32-bit picture from rows of palette keys; TGA keeps blue first.
bool WriteSprite(const std::string &path, const char *const (&rows)[16]) {
  txBitmap *bitmap = txCreateDummy(TX_FORMAT_RGBA, 16, 16);
  if (!bitmap) return false;
  bitmap->order = TX_ORDER_BGR;
  unsigned char *p = bitmap->image[0];
  for (const char *row : rows) {
    for (int x = 0; x < 16; ++x, p += 4) {
      const Colour &c = Lookup(row[x]);
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = c.a;
    }
  }
  const bool ok = txSave(TX_FILE_TGA, path.c_str(), bitmap) == 0;
  txFree(&bitmap);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mkdata OUTDIR\n");
    return 2;
  }
  SYS_BaseInit(nullptr, 0, nullptr, nullptr);
  txInit(nullptr);
  const std::string out = argv[1];
  if (!WriteSprite(out + "/piggy.tga", kPiggy)) {
    std::fprintf(stderr, "mkdata: %s/piggy.tga: not written\n", out.c_str());
    return 1;
  }
  return 0;
}
