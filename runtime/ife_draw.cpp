// Runtime glue: IfeDraw, one textured, tinted, rotated quad per layer.
#include <array>
#include <string_view>

#include "runtime/gl.h"
#include "runtime/ife.h"
#include "runtime/ife_frame.h"

namespace {

// Blend factors of modes 1..5; mode 0 switches blending off, any other
// mode leaves the blend state as it is.
struct BlendFactors {
  GLenum source, destination;
};
constexpr std::array<BlendFactors, 5> kBlendModes = {{
    {GL_ONE, GL_ONE},                        // 1 additive
    {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA},  // 2 alpha blend
    {GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA},  // 3 inverted alpha blend
    {GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR},  // 4 colour-weighted
    {GL_ZERO, GL_ONE_MINUS_SRC_COLOR},       // 5 darken by the source colour
}};

void SetBlend(std::uint8_t mode) {
  if (mode == 0) {
    rgl::glDisable(GL_BLEND);
  } else if (mode <= kBlendModes.size()) {
    rgl::glEnable(GL_BLEND);
    rgl::glBlendFunc(kBlendModes[mode - 1].source, kBlendModes[mode - 1].destination);
  }
}

// Layers holding a copy of the back buffer (bottom row first), mapped the
// other way up so that they appear upright too.
bool HoldsBackBuffer(std::string_view image) { return image == "RT" || image == "BUF0.JPG" || image == "BUF2.JPG"; }

void DrawLayer(const ife_layer &layer, float t) {
  IfeFrame frame;
  if (!IfeLayerFrame(layer, t, &frame)) return;  // no keys: nothing to draw

  IfeScreenProjection();
  SetBlend(layer.blend);
  rgl::glEnable(GL_TEXTURE_2D);
  rgl::glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(layer.texture));

  rgl::glColor4f(frame.red, frame.green, frame.blue, frame.alpha);
  rgl::glTranslatef(frame.x, frame.y, 0);
  rgl::glRotatef(frame.angle, 0, 0, 1);
  if (layer.image == "white.tga")
    rgl::glDisable(GL_TEXTURE_2D);
  else
    rgl::glEnable(GL_TEXTURE_2D);

  const float w = frame.width / 2, h = frame.height / 2;
  const float top = HoldsBackBuffer(layer.image.view()) ? 1.0f : 0.0f;  // t of the quad's upper corners
  rgl::glBegin(GL_QUADS);
  rgl::glTexCoord2f(1, top);
  rgl::glVertex2f(w, h);
  rgl::glTexCoord2f(1, 1 - top);
  rgl::glVertex2f(w, -h);
  rgl::glTexCoord2f(0, 1 - top);
  rgl::glVertex2f(-w, -h);
  rgl::glTexCoord2f(0, top);
  rgl::glVertex2f(-w, h);
  rgl::glEnd();
}

}  // namespace

extern "C" void IfeDraw(const ife_interface *record, float t) {
  rgl::glDisable(GL_LIGHTING);
  rgl::glDisable(GL_DEPTH_TEST);
  rgl::glDisable(GL_ALPHA_TEST);
  rgl::glDisable(GL_CULL_FACE);
  if (record && record->layers)
    for (std::int32_t i = 0; i < record->layerCount; ++i) DrawLayer(record->layers[i], t);
  rgl::glMatrixMode(GL_MODELVIEW);
}

extern "C" void IfeScreenProjection(void) {
  rgl::glMatrixMode(GL_TEXTURE);
  rgl::glLoadIdentity();
  rgl::glMatrixMode(GL_MODELVIEW);
  rgl::glLoadIdentity();
  rgl::glMatrixMode(GL_PROJECTION);
  rgl::glLoadIdentity();
  rgl::gluOrtho2D(0, 800, 0, 600);
}
