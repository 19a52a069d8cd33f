#include "gl_support.h"

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "image/image.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"
#include "tests/runtime/support.h"
#include "wm/wm.h"

namespace ifetest {

void StartGL() {
  setenv("BRISK_BATCH", "1", 1);  // message boxes go to standard error
  rttest::StartUnits({"./ife_gl_test", "-v"});
  SYS_InitSubsystems();
  wm_window_t *w = wmCreateWindow(0, 0, 800, 600);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(wmShowWindow(w), 0);
  ASSERT_EQ(InitGLExtensions(), 0);
  rgl::glViewport(0, 0, 800, 600);
  TexCacheReset();
}

std::string Layer(const std::string &image, int blend, const std::vector<std::string> &keys) {
  std::string text = image + "\n\n\n" + std::to_string(keys.size()) + "\n" + std::to_string(blend) + "\n";
  for (const std::string &key : keys) text += key + "\n";
  return text;
}

std::string Interface(const std::vector<std::string> &layers) {
  std::string text = std::to_string(layers.size()) + "\n0\n";
  for (const std::string &layer : layers) text += layer;
  return text;
}

ife_interface Load(const std::string &name, const std::string &text, const std::string &prefix) {
  rttest::WriteFile(name, text);
  ife_interface record{};
  const ShortString file(name), dir(prefix);
  IfeLoad(&record, &file, &dir);
  return record;
}

void PrintTo(const Rgb &c, std::ostream *os) { *os << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

void WriteImage(const std::string &path, int type, int width, int height, const std::function<Rgb(int, int)> &colour) {
  txBitmap *image = txCreateDummy(1, width, height);  // red first
  ASSERT_NE(image, nullptr);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb c = colour(x, y);
      unsigned char *p = image->image[0] + (static_cast<size_t>(y) * width + x) * 3;
      p[0] = static_cast<unsigned char>(c.r);
      p[1] = static_cast<unsigned char>(c.g);
      p[2] = static_cast<unsigned char>(c.b);
    }
  EXPECT_EQ(txSave(type, path.c_str(), image), 0) << path;
  txFree(&image);
}

void Clear(Rgb colour) {
  rgl::glClearColor(colour.r / 255.0f, colour.g / 255.0f, colour.b / 255.0f, 1);
  rgl::glClear(GL_COLOR_BUFFER_BIT);
}

std::vector<std::uint8_t> Row(int y) {
  std::vector<std::uint8_t> row(800 * 3);
  rgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  Proc<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *)>("glReadPixels")(0, y, 800, 1, GL_RGB,
                                                                                        GL_UNSIGNED_BYTE, row.data());
  return row;
}

Rgb Pixel(int x, int y) {
  const auto row = Row(y);
  const std::uint8_t *p = &row[static_cast<size_t>(x) * 3];
  return {p[0], p[1], p[2]};
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

bool IsEnabled(GLenum what) { return Proc<GLboolean (*)(GLenum)>("glIsEnabled")(what) == GL_TRUE; }

GLint Integer(GLenum what) {
  GLint v = -1;
  rgl::glGetIntegerv(what, &v);
  return v;
}

std::vector<float> Floats(GLenum what, int count) {
  std::vector<float> v(static_cast<size_t>(count) + 16, -99);
  Proc<void (*)(GLenum, GLfloat *)>("glGetFloatv")(what, v.data());
  v.resize(static_cast<size_t>(count));
  return v;
}

GLint TextureParameter(GLuint texture, GLenum what) {
  GLint bound = Integer(GL_TEXTURE_BINDING_2D);
  rgl::glBindTexture(GL_TEXTURE_2D, texture);
  GLint v = -1;
  Proc<void (*)(GLenum, GLenum, GLint *)>("glGetTexParameteriv")(GL_TEXTURE_2D, what, &v);
  rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  return v;
}

}  // namespace ifetest
