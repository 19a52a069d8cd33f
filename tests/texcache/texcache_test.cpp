// The runtime's texture cache against the real Mesa driver under the X
// server: sharing by name and mode, the filter modes, shrinking to the
// texture size limit, the texels read back from GL, DXT blocks and own
// mipmap levels, release, reset and the fatal ends. Every case brings the
// runtime up in a forked child with a window and a current GL context.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"
#include "image/formats.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"
#include "wm/wm.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs body in a forked child; its gtest failures fail the case. A body that
// ends the process itself (the fatal path) ends it with its own code.
int InChild(const std::function<void()> &body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    alarm(120);
    setenv("BRISK_BATCH", "1", 1);  // message boxes go to standard error
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A top-down uncompressed TGA of depth 8 (grey), 24 or 32 bits holding these
// pixels in file order (blue first).
void WriteTga(const std::string &path, int w, int h, int depth, const Bytes &pixels) {
  Bytes f{0, 0, static_cast<uint8_t>(depth == 8 ? 3 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0,
          static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
          static_cast<uint8_t>(depth), 0x20};
  f.insert(f.end(), pixels.begin(), pixels.end());
  WriteFile(path, f);
}

Bytes Pixels(int w, int h, int c) {
  Bytes p(static_cast<size_t>(w) * h * c);
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i * 29 + i / 7 + 11);
  return p;
}

// Blue-first file bytes to red-first texels.
Bytes RedFirst(Bytes p, int c) {
  if (c >= 3)
    for (size_t i = 0; i + 2 < p.size(); i += static_cast<size_t>(c)) std::swap(p[i], p[i + 2]);
  return p;
}

// GL calls the runtime does not load for itself.
template <typename F>
F Proc(const char *name) {
  auto f = reinterpret_cast<F>(GetGLProc(name));
  EXPECT_NE(f, nullptr) << name;
  return f;
}

GLint LevelParameter(int level, GLenum what) {
  GLint v = -1;
  Proc<void (*)(GLenum, GLint, GLenum, GLint *)>("glGetTexLevelParameteriv")(GL_TEXTURE_2D, level, what, &v);
  return v;
}

GLint Parameter(GLenum what) {
  GLint v = -1;
  Proc<void (*)(GLenum, GLenum, GLint *)>("glGetTexParameteriv")(GL_TEXTURE_2D, what, &v);
  return v;
}

GLint Bound() {
  GLint v = -1;
  rgl::glGetIntegerv(GL_TEXTURE_BINDING_2D, &v);
  return v;
}

Bytes Texels(GLint texture, int level, GLenum layout, size_t size) {
  rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
  Proc<void (*)(GLenum, GLint)>("glPixelStorei")(GL_PACK_ALIGNMENT, 1);
  Bytes out(size + 16, 0xEE);
  Proc<void (*)(GLenum, GLint, GLenum, GLenum, void *)>("glGetTexImage")(GL_TEXTURE_2D, level, layout,
                                                                          GL_UNSIGNED_BYTE, out.data());
  EXPECT_EQ(out[size], 0xEE) << "GL wrote past the level";
  out.resize(size);
  return out;
}

// The runtime as the show brings it up, a window with its GL context, the
// capability check, and the loader asked for red-first pixels.
void Start(std::vector<std::string> extra = {}) {
  static std::vector<std::string> args;
  args = {"./texcache_test", "-v", "-debug-tl"};
  args.insert(args.end(), extra.begin(), extra.end());
  static std::vector<char *> argv;
  argv.clear();
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  SYS_RuntimeUnitsInit(static_cast<int>(args.size()), argv.data());
  SYS_InitSubsystems();
  wm_window_t *w = wmCreateWindow(0, 0, 64, 64);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(wmShowWindow(w), 0);
  ASSERT_EQ(InitGLExtensions(), 0);
  txOptions(TX_OPT_ORDER, 1);
  TexCacheReset();
}

int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TexCache, SameNameAndModeShareOneTexture) {
  EXPECT_EQ(InChild([] {
              Start();
              WriteTga("a.tga", 4, 4, 24, Pixels(4, 4, 3));
              WriteTga("A.tga", 4, 4, 24, Pixels(4, 4, 3));
              const GLint first = TexCacheLoad("a.tga", TEXCACHE_LINEAR);
              ASSERT_NE(first, 0);
              EXPECT_EQ(Bound(), first) << "a fresh load leaves its texture bound";
              rgl::glBindTexture(GL_TEXTURE_2D, 0);
              const size_t logged = ReadText("debug.log").size();

              EXPECT_EQ(TexCacheLoad("a.tga", TEXCACHE_LINEAR), first);
              EXPECT_EQ(TexCacheEntry(0)->refs, 2);
              EXPECT_EQ(Bound(), 0) << "a hit leaves the binding alone";
              EXPECT_EQ(ReadText("debug.log").size(), logged) << "a hit reads and logs nothing";
              EXPECT_EQ(Count(ReadText("debug.log"), "] Load bitmap: a.tga\n"), 1);

              const GLint mipmapped = TexCacheLoad("a.tga", TEXCACHE_NEAREST_MIPMAP);
              EXPECT_NE(mipmapped, first);
              EXPECT_EQ(TexCacheEntry(1)->mode, TEXCACHE_NEAREST_MIPMAP);
              EXPECT_EQ(TexCacheEntry(1)->refs, 1);
              const GLint upper = TexCacheLoad("A.tga", TEXCACHE_LINEAR);
              EXPECT_NE(upper, first) << "names differing in case are different entries";
              EXPECT_EQ(TexCacheEntry(2)->name.view(), "A.tga");

              const txNode *n = TexCacheEntry(0);
              EXPECT_EQ(n->name.view(), "a.tga");
              EXPECT_EQ(n->texture, first);
              EXPECT_EQ(n->loaded, 1);
              EXPECT_EQ(n->free, 0);
              EXPECT_EQ(n->bpp, 24);
            }),
            0);
}

TEST(TexCache, FilterModesAndLevels) {
  EXPECT_EQ(InChild([] {
              Start();
              WriteTga("m.tga", 8, 4, 24, Pixels(8, 4, 3));
              struct Case {
                int mode;
                GLint mag, min;
                bool mipmaps, empty;
              } const cases[] = {
                  {0, GL_NEAREST, GL_NEAREST, false, false},
                  {1, GL_LINEAR, GL_LINEAR, false, false},
                  {2, GL_NEAREST, GL_NEAREST_MIPMAP_NEAREST, true, false},
                  {3, GL_LINEAR, GL_LINEAR_MIPMAP_LINEAR, true, false},
                  {7, GL_LINEAR, GL_NEAREST_MIPMAP_LINEAR, false, true},  // GL's defaults, no image
              };
              for (const auto &c : cases) {
                SCOPED_TRACE("mode " + std::to_string(c.mode));
                const GLint t = TexCacheLoad("m.tga", c.mode);
                ASSERT_NE(t, 0);
                rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(t));
                EXPECT_EQ(Parameter(GL_TEXTURE_MAG_FILTER), c.mag);
                EXPECT_EQ(Parameter(GL_TEXTURE_MIN_FILTER), c.min);
                EXPECT_EQ(LevelParameter(0, GL_TEXTURE_WIDTH), c.empty ? 0 : 8);
                EXPECT_EQ(LevelParameter(1, GL_TEXTURE_WIDTH), c.mipmaps ? 4 : 0);
                EXPECT_EQ(LevelParameter(3, GL_TEXTURE_WIDTH), c.mipmaps ? 1 : 0);
                EXPECT_EQ(TexCacheLoad("m.tga", c.mode), t) << "cached whatever the mode";
              }
            }),
            0);
}

TEST(TexCache, LargerThanTheLimitIsShrunk) {
  EXPECT_EQ(InChild([] {
              Start();
              glMaxTextureSize = 1024;
              WriteTga("big.tga", 2048, 512, 24, Bytes(size_t(2048) * 512 * 3, 90));
              WriteTga("fits.tga", 1024, 1024, 8, Bytes(size_t(1024) * 1024, 30));
              const GLint big = TexCacheLoad("big.tga", TEXCACHE_LINEAR);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(big));
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_WIDTH), 1024);
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_HEIGHT), 512);
              const std::string log = ReadText("debug.log");
              EXPECT_NE(log.find("\n - scaling down big.tga\n   - 2048x512 -> 1024x512\n"), std::string::npos) << log;

              const GLint fits = TexCacheLoad("fits.tga", TEXCACHE_LINEAR);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(fits));
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_WIDTH), 1024);
              EXPECT_EQ(Count(ReadText("debug.log"), "scaling down"), 1);
            }),
            0);
}

struct TexelCase {
  const char *label;
  int depth, width, height, mode;
  GLenum layout;
};

const TexelCase kTexelCases[] = {
    {"rgb_odd_width", 24, 7, 5, TEXCACHE_NEAREST, GL_RGB},
    {"rgb_mipmaps", 24, 16, 8, TEXCACHE_LINEAR_MIPMAP, GL_RGB},
    {"rgba", 32, 5, 3, TEXCACHE_LINEAR, GL_RGBA},
    {"grey_odd_width", 8, 9, 3, TEXCACHE_LINEAR, GL_LUMINANCE},
    {"grey_mipmaps", 8, 8, 8, TEXCACHE_NEAREST_MIPMAP, GL_LUMINANCE},
};

TEST(TexCache, TexelsReadBackEqualTheImage) {
  EXPECT_EQ(InChild([] {
              Start();
              for (const auto &c : kTexelCases) {
                SCOPED_TRACE(c.label);
                const int ch = c.depth / 8;
                const Bytes file = Pixels(c.width, c.height, ch);
                const std::string name = std::string(c.label) + ".tga";
                WriteTga(name, c.width, c.height, c.depth, file);
                const GLint t = TexCacheLoad(name.c_str(), c.mode);
                EXPECT_EQ(Texels(t, 0, c.layout, file.size()), RedFirst(file, ch));
              }
            }),
            0);
}

// Runs ImageMagick's convert with these arguments; false when it fails.
bool Convert(const std::string &args) {
  return std::system(("/usr/bin/convert " + args + " 2>convert.err").c_str()) == 0;
}

// Red, green, blue, alpha of a w x h picture: every third pixel transparent,
// every third half transparent, the rest opaque.
Bytes Translucent(int w, int h) {
  const Bytes rgb = Pixels(w, h, 3);
  Bytes rgba;
  for (int i = 0; i < w * h; ++i) {
    rgba.insert(rgba.end(), rgb.begin() + 3 * i, rgb.begin() + 3 * i + 3);
    rgba.push_back(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
  }
  return rgba;
}

// Largest difference between two byte runs of the same length.
int MaxDiff(const Bytes &a, const Bytes &b) {
  if (a.size() != b.size()) return 1 << 20;
  int d = 0;
  for (size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
  return d;
}

constexpr int kPw = 5, kPh = 4;  // odd width: packed rows

struct PaletteCase {
  const char *label;
  const char *convert;  // from src.rgba (the translucent picture) or src.ppm (its colours)
  const char *file;
  bool alpha;           // the texture carries the palette's alpha
};

const PaletteCase kPaletteCases[] = {
    {"bmp", "src.ppm -type Palette -compress none BMP3:p.bmp", "p.bmp", false},
    {"png", "src.ppm PNG8:p.png", "p.png", false},
    {"png_trns", "-size 5x4 -depth 8 rgba:src.rgba -type PaletteAlpha -define png:bit-depth=8 t.png", "t.png", true},
};

// Palette images go up as their colours (and a PNG's transparency), not as
// their indices in grey.
TEST(TexCache, PaletteImagesGoUpInTheirColours) {
  EXPECT_EQ(InChild([] {
              Start();
              const Bytes rgba = Translucent(kPw, kPh);
              Bytes rgb;
              for (size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i] + 3);
              std::string head = "P6\n" + std::to_string(kPw) + " " + std::to_string(kPh) + "\n255\n";
              Bytes ppm(head.begin(), head.end());
              ppm.insert(ppm.end(), rgb.begin(), rgb.end());
              WriteFile("src.ppm", ppm);
              WriteFile("src.rgba", rgba);
              int entry = 0;  // each file takes the next entry
              for (const auto &c : kPaletteCases) {
                SCOPED_TRACE(c.label);
                ASSERT_TRUE(Convert(c.convert)) << ReadText("convert.err");
                txBitmap *loaded = txLoad(c.file);
                ASSERT_NE(loaded, nullptr);
                const int format = loaded->format;
                txFree(&loaded);
                ASSERT_EQ(format, TX_FORMAT_INDEX) << "the fixture is a palette image";

                const GLint t = TexCacheLoad(c.file, TEXCACHE_NEAREST);
                const txNode *n = TexCacheEntry(entry++);
                ASSERT_EQ(n->texture, t);
                EXPECT_EQ(n->bpp, c.alpha ? 32 : 24) << "the depth as uploaded";
                rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(t));
                EXPECT_EQ(LevelParameter(0, GL_TEXTURE_WIDTH), kPw);
                EXPECT_EQ(LevelParameter(0, GL_TEXTURE_RED_SIZE) > 0, true) << "colour, not luminance";
                EXPECT_EQ(LevelParameter(0, GL_TEXTURE_ALPHA_SIZE) > 0, c.alpha);

                const int ch = c.alpha ? 4 : 3;
                const Bytes texels = Texels(t, 0, c.alpha ? GL_RGBA : GL_RGB, size_t(kPw) * kPh * ch);
                for (int i = 0; i < kPw * kPh; ++i) {
                  SCOPED_TRACE("pixel " + std::to_string(i));
                  const Bytes got(&texels[size_t(i) * ch], &texels[size_t(i) * ch] + ch);
                  const uint8_t a = c.alpha ? rgba[4 * i + 3] : 255;
                  if (c.alpha) {
                    EXPECT_EQ(got[3], a);
                  }
                  if (a == 0) continue;  // a transparent pixel's colour is the encoder's choice
                  // ImageMagick's rounding through alpha moves half transparent colours by one.
                  EXPECT_LE(MaxDiff(Bytes(got.begin(), got.begin() + 3), Bytes(&rgb[3 * i], &rgb[3 * i] + 3)),
                            a == 255 ? 0 : 1);
                }
              }
            }),
            0);
}

// The transparent palette PNG drawn over a blue background: its opaque pixels
// in their colours, the half transparent ones blended, the transparent ones
// the background.
TEST(TexCache, TransparentPaletteDrawsOverTheBackground) {
  EXPECT_EQ(InChild([] {
              Start();
              const Bytes rgba = Translucent(kPw, kPh);
              WriteFile("src.rgba", rgba);
              ASSERT_TRUE(Convert(kPaletteCases[2].convert)) << ReadText("convert.err");
              const GLint t = TexCacheLoad("t.png", TEXCACHE_NEAREST);
              ASSERT_NE(t, 0);

              constexpr int kSide = 64, kCell = 8;  // each texel covers kCell x kCell pixels
              const uint8_t background[3] = {0, 0, 255};
              rgl::glViewport(0, 0, kPw * kCell, kPh * kCell);
              rgl::glMatrixMode(GL_PROJECTION);
              rgl::glLoadIdentity();
              rgl::glMatrixMode(GL_MODELVIEW);
              rgl::glLoadIdentity();
              rgl::glClearColor(0, 0, 1, 1);
              rgl::glClear(GL_COLOR_BUFFER_BIT);
              rgl::glEnable(GL_TEXTURE_2D);
              rgl::glEnable(GL_BLEND);
              rgl::glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(t));
              rgl::glColor4f(1, 1, 1, 1);
              rgl::glBegin(GL_QUADS);  // the image's top row at the top
              rgl::glTexCoord2f(0, 1), rgl::glVertex2f(-1, -1);
              rgl::glTexCoord2f(1, 1), rgl::glVertex2f(1, -1);
              rgl::glTexCoord2f(1, 0), rgl::glVertex2f(1, 1);
              rgl::glTexCoord2f(0, 0), rgl::glVertex2f(-1, 1);
              rgl::glEnd();
              rgl::glDisable(GL_BLEND);
              rgl::glDisable(GL_TEXTURE_2D);

              Bytes frame(size_t(kSide) * kSide * 3);
              rgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
              Proc<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *)>("glReadPixels")(
                  0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
              for (int y = 0; y < kPh; ++y)
                for (int x = 0; x < kPw; ++x) {
                  const int i = y * kPw + x;
                  SCOPED_TRACE("texel " + std::to_string(x) + "," + std::to_string(y));
                  // The cell's centre; GL's first row is the bottom one.
                  const int px = x * kCell + kCell / 2, py = (kPh - 1 - y) * kCell + kCell / 2;
                  const uint8_t *got = &frame[(size_t(py) * kSide + px) * 3];
                  const int a = rgba[4 * i + 3];
                  Bytes want(3);
                  for (int k = 0; k < 3; ++k)
                    want[k] = static_cast<uint8_t>((rgba[4 * i + k] * a + background[k] * (255 - a) + 127) / 255);
                  EXPECT_LE(MaxDiff(Bytes(got, got + 3), want), a == 0 || a == 255 ? 0 : 2)
                      << "alpha " << a << ": got " << int(got[0]) << "," << int(got[1]) << "," << int(got[2])
                      << " want " << int(want[0]) << "," << int(want[1]) << "," << int(want[2]);
                }
            }),
            0);
}

// An 8x8 DXT1 DDS with four levels of single-colour blocks.
Bytes Dxt1Dds(std::vector<Bytes> *levels) {
  Bytes f(128, 0);
  std::memcpy(f.data(), "DDS ", 4);
  auto at32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  at32(4, 124);
  at32(12, 8);
  at32(16, 8);
  at32(28, 4);
  std::memcpy(f.data() + 84, "DXT1", 4);
  const uint16_t colours[] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
  const int blocks[] = {4, 1, 1, 1};
  for (int l = 0; l < 4; ++l) {
    Bytes level;
    for (int b = 0; b < blocks[l]; ++b)
      level.insert(level.end(), {uint8_t(colours[l] & 0xFF), uint8_t(colours[l] >> 8), 0, 0, 0, 0, 0, 0});
    levels->push_back(level);
    f.insert(f.end(), level.begin(), level.end());
  }
  return f;
}

TEST(TexCache, CompressedBlocksGoUpAsTheyAre) {
  EXPECT_EQ(InChild([] {
              Start();
              if (!glCaps.dxt1 || !rgl::glCompressedTexImage2DARB) {
                std::printf("the driver takes no DXT1 textures: nothing to check\n");
                return;
              }
              std::vector<Bytes> levels;
              WriteFile("c.dds", Dxt1Dds(&levels));
              const GLint t = TexCacheLoad("c.dds", TEXCACHE_LINEAR_MIPMAP);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(t));
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_COMPRESSED), GL_TRUE);
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_COMPRESSED_RGB_S3TC_DXT1_EXT);
              EXPECT_EQ(Parameter(GL_TEXTURE_MAX_LEVEL), 3);
              auto get = Proc<void (*)(GLenum, GLint, void *)>("glGetCompressedTexImage");
              for (int l = 0; l < 4; ++l) {
                EXPECT_EQ(LevelParameter(l, GL_TEXTURE_WIDTH), 8 >> l);
                Bytes out(levels[l].size());
                get(GL_TEXTURE_2D, l, out.data());
                EXPECT_EQ(out, levels[l]) << "level " << l;
              }
              EXPECT_EQ(TexCacheEntry(0)->bpp, 24);
            }),
            0);
}

// With DXT1 switched off the blocks are decoded and the file's own levels
// are uploaded one by one.
TEST(TexCache, DecodedLevelsGoUpOneByOne) {
  EXPECT_EQ(InChild([] {
              Start({"-disable-dxt1"});
              std::vector<Bytes> levels;
              WriteFile("d.dds", Dxt1Dds(&levels));
              const GLint t = TexCacheLoad("d.dds", TEXCACHE_LINEAR);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(t));
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_COMPRESSED), GL_FALSE);
              EXPECT_EQ(Parameter(GL_TEXTURE_MAX_LEVEL), 3);
              for (int l = 0; l < 4; ++l) {
                const int side = 8 >> l;
                EXPECT_EQ(LevelParameter(l, GL_TEXTURE_WIDTH), side);
                Bytes want(size_t(side) * side * 3);
                dxt1Decompress(levels[l].data(), want.data(), side, side, 24);
                EXPECT_EQ(Texels(t, l, GL_RGB, want.size()), want) << "level " << l;
              }

              // Above the size limit a file with its own levels loses its
              // largest ones, so the levels stay in step.
              glMaxTextureSize = 4;
              const GLint small = TexCacheLoad("d.dds", TEXCACHE_LINEAR_MIPMAP);
              rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(small));
              EXPECT_EQ(LevelParameter(0, GL_TEXTURE_WIDTH), 4);
              EXPECT_EQ(Parameter(GL_TEXTURE_MAX_LEVEL), 2);
              Bytes want(4 * 4 * 3);
              dxt1Decompress(levels[1].data(), want.data(), 4, 4, 24);
              EXPECT_EQ(Texels(small, 0, GL_RGB, want.size()), want);
              EXPECT_NE(ReadText("debug.log").find("\n - scaling down d.dds\n   - 8x8 -> 4x4\n"), std::string::npos);
            }),
            0);
}

TEST(TexCache, ReleaseAndReset) {
  EXPECT_EQ(InChild([] {
              Start();
              WriteTga("r.tga", 2, 2, 24, Pixels(2, 2, 3));
              WriteTga("s.tga", 2, 2, 8, Pixels(2, 2, 1));
              auto isTexture = Proc<GLboolean (*)(GLuint)>("glIsTexture");
              const GLint t = TexCacheLoad("r.tga", TEXCACHE_NEAREST);
              TexCacheLoad("r.tga", TEXCACHE_NEAREST);
              TexCacheRelease(t);
              EXPECT_EQ(TexCacheEntry(0)->refs, 1);
              EXPECT_TRUE(isTexture(static_cast<GLuint>(t)));
              TexCacheRelease(t);
              const txNode *n = TexCacheEntry(0);
              EXPECT_FALSE(isTexture(static_cast<GLuint>(t)));
              EXPECT_EQ(n->free, 1);
              EXPECT_EQ(n->loaded, 0);
              EXPECT_EQ(n->texture, t) << "the name is kept";
              TexCacheRelease(t);
              EXPECT_EQ(n->refs, 0) << "a free entry is not counted down again";

              const GLint s = TexCacheLoad("s.tga", TEXCACHE_NEAREST);
              EXPECT_EQ(TexCacheEntry(0)->name.view(), "s.tga") << "the freed entry is the first free one";
              EXPECT_EQ(TexCacheEntry(0)->texture, s);
              EXPECT_EQ(TexCacheEntry(0)->bpp, 8);

              TexCacheReset();
              for (int i : {0, 1, 1000}) {
                const txNode *e = TexCacheEntry(i);
                EXPECT_EQ(e->name.view(), "empty");
                EXPECT_EQ(e->texture, 0);
                EXPECT_EQ(e->loaded, 0);
                EXPECT_EQ(e->free, 1);
                EXPECT_EQ(e->mode, 3);
                EXPECT_EQ(e->refs, 0);
              }
              EXPECT_EQ(TexCacheEntry(0)->bpp, 8) << "the depth is left as it was";
              EXPECT_TRUE(isTexture(static_cast<GLuint>(s))) << "a reset deletes no texture";
              EXPECT_EQ(TexCacheEntry(-1), nullptr);
              EXPECT_EQ(TexCacheEntry(1001), nullptr);
            }),
            0);
}

// The fatal ends: the message box text goes to standard error in batch mode,
// and the process ends with code 0 through the registry's fatal path.
TEST(TexCache, FatalEnds) {
  struct Case {
    const char *label;
    int fill;  // entries taken before the last load
    const char *message;
  } const cases[] = {
      {"missing_file", 0, "Error occoured ! Texture Loader Error. ( missing.tga )"},
      {"full_table", TEXCACHE_ENTRIES, "Error occoured ! Texture cache full. ( missing.tga )"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    std::remove("stderr.txt");
    const int code = InChild([&] {
      const int err = open("stderr.txt", O_CREAT | O_TRUNC | O_WRONLY, 0644);
      dup2(err, 2);
      close(err);
      static std::vector<std::string> args{"./texcache_test"};
      static char *argv[] = {args[0].data(), nullptr};
      SYS_RuntimeUnitsInit(1, argv);
      SYS_InitSubsystems();
      wm_window_t *w = wmCreateWindow(0, 0, 64, 64);
      ASSERT_NE(w, nullptr);
      ASSERT_EQ(wmShowWindow(w), 0);
      InitGLExtensions();
      TexCacheReset();
      WriteTga("one.tga", 1, 1, 8, {7});
      for (int i = 0; i < c.fill; ++i) {
        const std::string name = "t" + std::to_string(i) + ".tga";
        ::link("one.tga", name.c_str());
        ASSERT_NE(TexCacheLoad(name.c_str(), 9), 0);
      }
      TexCacheLoad("missing.tga", TEXCACHE_LINEAR);
      ADD_FAILURE() << "the load should not return";
    });
    EXPECT_EQ(code, 0);
    EXPECT_NE(ReadText("stderr.txt").find(c.message), std::string::npos) << ReadText("stderr.txt");
  }
}

}  // namespace
