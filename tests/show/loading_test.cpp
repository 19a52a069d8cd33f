// The show's loading in its own window: the framebuffer texture in slot 0,
// the load table in its order, the bar texture through the cache, and the
// loading screen's 16:9 viewport left behind. Each case runs in a forked child.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/gl_stub.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/showstate.h"
#include "runtime/texcache.h"
#include "runtime/window.h"
#include "show/loading.h"
#include "tests/runtime/support.h"

namespace {

using rttest::InChild;

void OpenShow() {
  rttest::StartUnits({"./loading_test", "-v"});
  SYS_InitSubsystems();
  std::int32_t fullscreen = 0;
  showState.width = SHOW_WIDTH;
  showState.height = SHOW_HEIGHT;
  OpenShowWindow("loading test", &showState.width, &showState.height, &fullscreen);
  ASSERT_NE(showWindow, nullptr);
}

TEST(Loading, LoadsTheTableInOrderBehindA169Screen) {
  InChild([] {
    ASSERT_TRUE(rttest::WriteShowFixture());
    OpenShow();
    PrepareLoading();
    ShowData data{};
    LoadShowData(data);

    // The interfaces in the table's order, each logged as it loads.
    std::vector<std::string> loaded;
    for (const std::string &line : rttest::Lines(rttest::ReadFile("debug.log")))
      if (line.rfind("[ife] load: ", 0) == 0) loaded.push_back(line.substr(12));
    EXPECT_EQ(loaded, (std::vector<std::string>{"v_blur.ife", "h_blur.ife", "rotate.ife", "rotozoomer.ife",
                                                "background.ife", "mothlogo.ife", "overlay.ife", "oops.ife",
                                                "whiteflash.ife", "4x4.ife", "rotozoomer2.ife", "end.ife"}));
    EXPECT_EQ(data.end.layerCount, 1);

    // The framebuffer texture: 800 by 600, in slot 0 for "BUF0.JPG" layers.
    ASSERT_NE(data.framebufferTexture, 0);
    EXPECT_EQ(ifeBufTextures[0], data.framebufferTexture);
    rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(data.framebufferTexture));
    GLint width = 0, height = 0;
    glFn.glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glFn.glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);

    // The bar texture: one cache entry, filter mode 2.
    ASSERT_NE(data.barTexture, 0);
    int entries = 0;
    for (int i = 0; i < TEXCACHE_ENTRIES; ++i) {
      const txNode *n = TexCacheEntry(i);
      if (n->loaded && n->name.view() == "piggy.tga") {
        ++entries;
        EXPECT_EQ(n->mode, TEXCACHE_NEAREST_MIPMAP);
        EXPECT_EQ(n->texture, data.barTexture);
      }
    }
    EXPECT_EQ(entries, 1);

    // The last loading frame's viewport: full width, 450 high, centred.
    GLint viewport[4] = {};
    rgl::glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 75, 800, 450}));
    EXPECT_EQ(rgl::glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  });
}

}  // namespace
