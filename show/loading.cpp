// The show's data, loaded behind the loading screen.
#include "show/loading.h"

#include <cmath>

#include "base/timer.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/showstate.h"
#include "runtime/texcache.h"
#include "show/show.h"
#include "wm/wm.h"

namespace {

// The load table, in load order: the interfaces, then the bar texture.
struct InterfaceFile {
  const char *file;
  ife_interface ShowData::*record;
};
constexpr InterfaceFile kInterfaces[] = {
    {"v_blur.ife", &ShowData::vBlur},          {"h_blur.ife", &ShowData::hBlur},
    {"rotate.ife", &ShowData::rotate},         {"rotozoomer.ife", &ShowData::rotozoomer},
    {"background.ife", &ShowData::background}, {"mothlogo.ife", &ShowData::logo},
    {"overlay.ife", &ShowData::overlay},       {"oops.ife", &ShowData::oops},
    {"whiteflash.ife", &ShowData::whiteFlash}, {"4x4.ife", &ShowData::fourByFour},
    {"rotozoomer2.ife", &ShowData::rotozoomer2}, {"end.ife", &ShowData::end},
};
constexpr const char *kBarTexture = "piggy.tga";

// An empty RGB texture of the show's size that receives copies of the back buffer.
std::int32_t MakeFramebufferTexture() {
  GLuint texture = 0;
  rgl::glEnable(GL_TEXTURE_2D);
  rgl::glGenTextures(1, &texture);
  rgl::glBindTexture(GL_TEXTURE_2D, texture);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  rgl::glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  rgl::glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, SHOW_WIDTH, SHOW_HEIGHT, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  return static_cast<std::int32_t>(texture);
}

}  // namespace

void PrepareLoading() {
  txOptions(TX_OPT_ORDER, 1);
  txOptions(TX_OPT_QUALITY, showTextureQuality);
  TexCacheReset();
}

void LoadShowData(ShowData &data) {
  data.framebufferTexture = MakeFramebufferTexture();
  ifeBufTextures[0] = data.framebufferTexture;
  const ShortString prefix;
  for (const InterfaceFile &row : kInterfaces) {
    LoadingStep();
    const ShortString name(row.file);
    IfeLoad(&(data.*row.record), &name, &prefix);
  }
  LoadingStep();
  data.barTexture = TexCacheLoad(kBarTexture, TEXCACHE_NEAREST_MIPMAP);
  LoadingStep();
}

void LoadingStep() {
  const int width = showState.width;
  const int height = static_cast<int>(std::nearbyint(width / 16.0 * 9.0));
  rgl::glViewport(0, (showState.height - height) / 2, width, height);
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  wmSwapBuffers(showState.window);
  showState.lastKey = 0;
  wmProcessEvents();
  SYS_Sleep(10);
}
