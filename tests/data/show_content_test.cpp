// The show's pictures as the build leaves them in its pack: every interface
// of the load table parses completely, its textures are special names or
// files the pack holds, and the bars' sprite is a 16 by 16 picture with
// alpha that the texture tool makes the same on every run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/file.h"
#include "image/image.h"
#include "runtime/ife_parse.h"

namespace {

namespace fs = std::filesystem;

class ShowContent : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool started = [] {
      SYS_BaseInit(nullptr, 0, nullptr, nullptr);
      txInit(nullptr);
      return SYS_FilePackOpen(SHOW_PACK) == 0;
    }();
    ASSERT_TRUE(started) << SHOW_PACK << " does not mount";
  }
};

TEST_F(ShowContent, EveryInterfaceParsesAndNamesTexturesThePackHolds) {
  for (const char *name : {"v_blur.ife", "h_blur.ife", "rotate.ife", "rotozoomer.ife", "background.ife",
                           "mothlogo.ife", "overlay.ife", "oops.ife", "whiteflash.ife", "4x4.ife",
                           "rotozoomer2.ife", "end.ife"}) {
    SCOPED_TRACE(name);
    SYS_File_t *file = SYS_FileOpen(name, SYS_FILE_TEXT);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->handler->name, "Pack handler");
    std::vector<std::string> files;
    const IfeTextureResolver resolve = [&](const ShortString &image, const ShortString &) {
      std::int32_t texture = 0;
      if (!IfeSpecialTexture(image.view(), &texture)) files.emplace_back(image.view());
      return texture;
    };
    ife_interface ife{};
    std::string error;
    EXPECT_TRUE(IfeParse(file, name, ShortString(), resolve, &ife, &error)) << error;
    SYS_FileClose(file);
    EXPECT_GT(ife.layerCount, 0);
    for (int i = 0; i < ife.layerCount; ++i) EXPECT_GT(ife.layers[i].keyCount, 0) << "layer " << i;
    for (const std::string &f : files) EXPECT_EQ(SYS_FileExist(f.c_str()), 0) << f;
    IfeFree(&ife);
  }
}

// The bars are drawn with the state the logo's last layer leaves: it must be
// a textured layer, drawn in white.
TEST_F(ShowContent, TheLogosLastLayerLeavesTexturingOnAndWhite) {
  SYS_File_t *file = SYS_FileOpen("mothlogo.ife", SYS_FILE_TEXT);
  ASSERT_NE(file, nullptr);
  ife_interface ife{};
  std::string error;
  ASSERT_TRUE(IfeParse(file, "mothlogo.ife", ShortString(), [](const ShortString &, const ShortString &) { return 0; },
                       &ife, &error))
      << error;
  SYS_FileClose(file);
  const ife_layer &last = ife.layers[ife.layerCount - 1];
  EXPECT_NE(last.image.view(), "white.tga");
  for (int k = 0; k < last.keyCount; ++k) {
    EXPECT_EQ(last.keys[k].red, 255);
    EXPECT_EQ(last.keys[k].green, 255);
    EXPECT_EQ(last.keys[k].blue, 255);
  }
  IfeFree(&ife);
}

std::vector<char> ReadDisk(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(ShowContent, ThePigIsSixteenSquareWithAlphaAndTheToolRepeatsItself) {
  txBitmap *pig = txLoad("piggy.tga");
  ASSERT_NE(pig, nullptr);
  EXPECT_EQ(pig->width, 16);
  EXPECT_EQ(pig->height, 16);
  ASSERT_EQ(pig->bpp, 32);
  int clear = 0, opaque = 0;
  for (int i = 0; i < 16 * 16; ++i) (pig->image[0][i * 4 + 3] == 0 ? clear : opaque) += 1;
  EXPECT_GT(clear, 0);
  EXPECT_GT(opaque, 16 * 16 / 2);
  txFree(&pig);
  // Two runs of the tool give the bytes the pack holds.
  for (const char *dir : {"one", "two"}) {
    fs::create_directory(dir);
    ASSERT_EQ(std::system((std::string(MKDATA_TOOL) + " " + dir).c_str()), 0);
  }
  const std::vector<char> one = ReadDisk("one/piggy.tga"), two = ReadDisk("two/piggy.tga");
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(one, two);
  SYS_File_t *file = SYS_FileOpen("piggy.tga", 0);
  ASSERT_NE(file, nullptr);
  std::vector<char> packed(static_cast<std::size_t>(file->size));
  EXPECT_EQ(SYS_FileRead(file, packed.data(), file->size), file->size);
  SYS_FileClose(file);
  EXPECT_EQ(packed, one);
}

}  // namespace
