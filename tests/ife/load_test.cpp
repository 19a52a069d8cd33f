// IfeLoad with the real texture cache in a GL context: the log lines, the
// textures of ordinary and special names, the clamped wraps, and the fatal
// end of every malformed file.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gl_support.h"
#include "image/image.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"
#include "tests/runtime/support.h"

namespace {

using namespace ifetest;
using rttest::InChild;

const std::string kKey = "0 400 300 0 0 10 10 255 255 255 255";

Rgb Green(int, int) { return {0, 255, 0}; }

TEST(IfeLoad, LogsTheNameAndEachDataLine) {
  InChild([] {
    StartGL();
    Load("logged.ife", "# header\n" + Interface({Layer("white.tga", 2, {"1 2 3"})}));
    const std::string log = rttest::ReadFile("debug.log");
    EXPECT_NE(log.find("\n[ife] load: logged.ife\n1\n0\nwhite.tga\n\n\n1\n2\n1 2 3\n"), std::string::npos) << log;
  });
}

TEST(IfeLoad, OrdinaryNamesGoThroughTheCacheAndSpecialNamesReadTheSlots) {
  InChild([] {
    StartGL();
    WriteImage("a.tga", TX_FILE_TGA, 8, 8, Green);
    WriteImage("buf0.jpg", TX_FILE_JPEG, 8, 8, Green);
    std::filesystem::create_directories("tex");
    WriteImage("tex/b.tga", TX_FILE_TGA, 8, 8, Green);
    for (int i = 0; i < 8; ++i) ifeBufTextures[i] = 500 + i;
    ifeRenderTarget = 600;
    ifeGlowTexture = 700;

    const std::vector<std::string> images = {"a.tga", "buf0.jpg", "a.tga", "BUF0.JPG", "BUF7.JPG",
                                             "BUF9.JPG", "RT", "GLOW", "white.tga"};
    std::vector<std::string> layers;
    for (const std::string &image : images) layers.push_back(Layer(image, 0, {kKey}));
    const ife_interface record = Load("names.ife", Interface(layers));
    ASSERT_EQ(record.layerCount, static_cast<int>(images.size()));

    const std::int32_t a = record.layers[0].texture, lower = record.layers[1].texture;
    EXPECT_NE(a, 0);
    EXPECT_NE(lower, 0);
    EXPECT_NE(lower, a);
    EXPECT_NE(lower, 500) << "buf0.jpg in lower case is a file, not slot 0";
    const std::vector<std::int32_t> want = {a, lower, a, 500, 507, 0, 600, 700, 0};
    for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(record.layers[i].texture, want[i]) << images[i];

    EXPECT_EQ(TexCacheEntry(0)->name.view(), "a.tga");
    EXPECT_EQ(TexCacheEntry(0)->refs, 2) << "two layers naming one file share one entry";
    EXPECT_EQ(TexCacheEntry(0)->mode, TEXCACHE_LINEAR);
    EXPECT_EQ(TexCacheEntry(1)->name.view(), "buf0.jpg");
    EXPECT_EQ(TexCacheEntry(1)->refs, 1);
    EXPECT_EQ(TexCacheEntry(2)->free, 1) << "special names load nothing";

    // A prefix names the directory of the textures, not of the interface file.
    const ife_interface prefixed = Load("prefixed.ife", Interface({Layer("b.tga", 0, {kKey})}), "tex");
    EXPECT_EQ(TexCacheEntry(2)->name.view(), "tex/b.tga");
    EXPECT_EQ(prefixed.layers[0].texture, TexCacheEntry(2)->texture);
  });
}

TEST(IfeLoad, WrapsAreClampedOnTheTextureBoundAtThatMoment) {
  InChild([] {
    StartGL();
    WriteImage("a.tga", TX_FILE_TGA, 8, 8, Green);
    GLuint bystanders[2] = {0, 0};
    rgl::glGenTextures(2, bystanders);
    auto clamped = [](GLuint texture) {
      return TextureParameter(texture, GL_TEXTURE_WRAP_S) == GL_CLAMP &&
             TextureParameter(texture, GL_TEXTURE_WRAP_T) == GL_CLAMP;
    };

    // A special name: whichever texture is bound.
    rgl::glBindTexture(GL_TEXTURE_2D, bystanders[0]);
    Load("special.ife", Interface({Layer("white.tga", 0, {kKey})}));
    EXPECT_TRUE(clamped(bystanders[0]));
    EXPECT_FALSE(clamped(bystanders[1]));

    // A fresh load: the new texture, left bound.
    const ife_interface fresh = Load("fresh.ife", Interface({Layer("a.tga", 0, {kKey})}));
    const GLuint a = static_cast<GLuint>(fresh.layers[0].texture);
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(a));
    EXPECT_TRUE(clamped(a));

    // A cache hit leaves the binding alone, so the bound texture gets the wraps.
    rgl::glBindTexture(GL_TEXTURE_2D, bystanders[1]);
    Load("hit.ife", Interface({Layer("a.tga", 0, {kKey})}));
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(bystanders[1]));
    EXPECT_TRUE(clamped(bystanders[1]));
  });
}

void LoadMissing() {
  ife_interface record{};
  const ShortString name("missing.ife");
  const ShortString prefix("");
  IfeLoad(&record, &name, &prefix);
}

TEST(IfeLoadDeathTest, AMissingFileEndsTheProgram) {
  EXPECT_EXIT(
      {
        setenv("BRISK_BATCH", "1", 1);
        rttest::StartBase({"./ife_gl_test", "-v"});
        LoadMissing();
      },
      ::testing::ExitedWithCode(0), "Error!: Unable to open missing\\.ife\n");
}

TEST(IfeLoadDeathTest, AMalformedFileEndsTheProgramNamingFileAndLine) {
  const std::string layer = Layer("white.tga", 0, {kKey});
  struct Case {
    const char *what;
    std::string text;
    const char *message;
  };
  const Case cases[] = {
      {"file ends early", Interface({layer, layer}).substr(0, 30),
       "Interface file bad\\.ife, line 9: the file ends before the image name of layer 2"},
      {"count not an integer", "1\n0\nwhite.tga\n\n\nseven\n0\n",
       "Interface file bad\\.ife, line 6: the key count of layer 1 \"seven\" is not an integer"},
      {"negative count", "-2\n0\n", "Interface file bad\\.ife, line 1: the layer count -2 is negative"},
      {"too many layers", "5000\n0\n", "Interface file bad\\.ife, line 1: the layer count 5000 is more than 1001"},
      {"too many keys", "1\n0\nwhite.tga\n\n\n20000\n0\n",
       "Interface file bad\\.ife, line 6: the key count of layer 1 20000 is more than 10001"},
      {"more keys than the file holds", "1\n0\nwhite.tga\n\n\n9000\n0\n" + kKey + "\n",
       "Interface file bad\\.ife, line 6: the key count of layer 1 9000 needs more lines than the rest of the "
       "file holds"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(
        {
          StartGL();
          Load("bad.ife", c.text);
        },
        ::testing::ExitedWithCode(0), std::string("Error!: ") + c.message + "\n");
  }
}

}  // namespace
