// The show's data: twelve interfaces, the bar texture and the framebuffer
// texture that receives copies of the back buffer, loaded once behind a black
// loading screen and kept until the process ends.
#pragma once

#include <cstdint>

#include "runtime/ife.h"

struct ShowData {
  ife_interface vBlur;        // "v_blur.ife"
  ife_interface hBlur;        // "h_blur.ife"
  ife_interface rotate;       // "rotate.ife": loaded, never drawn
  ife_interface rotozoomer;   // "rotozoomer.ife"
  ife_interface background;   // "background.ife"
  ife_interface logo;         // "mothlogo.ife"
  ife_interface overlay;      // "overlay.ife"
  ife_interface oops;         // "oops.ife"
  ife_interface whiteFlash;   // "whiteflash.ife"
  ife_interface fourByFour;   // "4x4.ife"
  ife_interface rotozoomer2;  // "rotozoomer2.ife"
  ife_interface end;          // "end.ife"
  std::int32_t barTexture;          // "piggy.tga", texture cache mode 2
  std::int32_t framebufferTexture;  // 800 by 600 RGB, also ifeBufTextures[0]
};

// Image loader options (channel order, texture quality) and an empty texture cache.
void PrepareLoading();

// The framebuffer texture, then every file of the load table in its order,
// each after one loading frame, and one loading frame after the last.
void LoadShowData(ShowData &data);

// One black frame of the loading screen: a 16:9 viewport centred in the
// window, cleared and presented, the window's events pumped, 10 ms of rest.
void LoadingStep();
