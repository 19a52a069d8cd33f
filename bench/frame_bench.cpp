// frame_bench [--pack FILE] [--step MS] [--shots T1,T2,... --out DIR]
//
// Opens the show's window, loads the show's data from its pack (the build's
// moth.moth by default) and draws the whole show, 0 to 67314 ms in steps of
// show time (default 40 ms), as fast as it goes: swap interval 0, a glFinish
// before each frame's clock stops. Three runs over the same steps, side by side:
//   show     the schedule drawn on GL, as the show draws it
//   no GL    the same code with every GL and GLU entry point replaced by a
//            no-op: the time the show's own code takes outside the GL driver
//   empty    the schedule replaced by nothing: clear, finish and swap only
// Each prints mean, median and 99th percentile frame time in ms.
// With --shots, the frames at those show times are written to DIR/frame-<t>.png.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "base/base.h"
#include "base/file.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/showstate.h"
#include "runtime/window.h"
#include "show/font.h"
#include "show/loading.h"
#include "show/show.h"
#include "show/timeline.h"

namespace {

using Clock = std::chrono::steady_clock;

// A no-op for an entry point of any signature.
template <class F>
struct Nop;
template <class R, class... A>
struct Nop<R (*)(A...)> {
  static R Call(A...) {
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

class NoDraw final : public ShowDrawOps {
 public:
  void Draw(const ife_interface &, float) override {}
  void Copy(std::int32_t) override {}
  void Bars(std::int32_t, std::int32_t) override {}
};

ShowData g_data;
// Entry points the show itself never calls, looked up by name.
decltype(&::glFinish) glFinishProc = nullptr;
decltype(&::glReadPixels) glReadPixelsProc = nullptr;

// One frame as the frame loop draws it, up to the point where it presents.
void DrawFrame(std::int32_t t, ShowTimeline &timeline, ShowDrawOps &ops) {
  rgl::glViewport(0, 0, SHOW_WIDTH, SHOW_HEIGHT);
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  UpdateTimeline(timeline, t);
  rgl::glDisable(GL_LIGHTING);
  rgl::glDisable(GL_TEXTURE_2D);
  rgl::glColor3f(1, 1, 1);
  rgl::glEnable(GL_TEXTURE_2D);
  DrawSchedule(timeline, t, g_data, ops);
}

struct Figures {
  double mean, median, p99;
};

Figures Run(const char *name, int step, ShowDrawOps &ops, bool stub_gl) {
  // The real entry points, kept to put back after a stubbed run.
#define RGL_SAVE(fn) const auto saved_##fn = rgl::fn;
  RGL_GL_ENTRIES(RGL_SAVE)
  RGL_GLU_ENTRIES(RGL_SAVE)
#undef RGL_SAVE
  std::vector<double> ms;
  ShowTimeline timeline{};
  for (std::int32_t t = 0; t < SHOW_END_TIME; t += step) {
    const auto start = Clock::now();
    if (stub_gl) {
#define RGL_STUB(fn) rgl::fn = &Nop<decltype(&::fn)>::Call;
      RGL_GL_ENTRIES(RGL_STUB)
      RGL_GLU_ENTRIES(RGL_STUB)
#undef RGL_STUB
    }
    DrawFrame(t, timeline, ops);
    if (stub_gl) {
#define RGL_RESTORE(fn) rgl::fn = saved_##fn;
      RGL_GL_ENTRIES(RGL_RESTORE)
      RGL_GLU_ENTRIES(RGL_RESTORE)
#undef RGL_RESTORE
    } else {
      glFinishProc();
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    wmSwapBuffers(showState.window);
    wmProcessEvents();
  }
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0;
  for (double v : ms) sum += v;
  const Figures f{sum / ms.size(), sorted[sorted.size() / 2], sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)]};
  std::printf("%-8s %6zu frames  mean %7.3f ms  median %7.3f ms  p99 %7.3f ms\n", name, ms.size(), f.mean, f.median, f.p99);
  return f;
}

// Writes the frame drawn at show time t to dir/frame-<t>.png.
bool Shot(std::int32_t t, const std::string &dir) {
  ShowTimeline timeline{};
  // The flash starts from the frame before, as in a show that runs.
  UpdateTimeline(timeline, t > 40 ? t - 40 : 0);
  DrawFrame(t, timeline, GLDrawOps());
  // GL reads red first: the record says so, and the writer takes it as it is.
  txBitmap *shot = txCreateDummy(TX_FORMAT_BGR, SHOW_WIDTH, SHOW_HEIGHT);
  if (!shot) return false;
  shot->order = TX_ORDER_RGB;
  std::vector<unsigned char> rows(SHOW_WIDTH * SHOW_HEIGHT * 3);
  rgl::glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixelsProc(0, 0, SHOW_WIDTH, SHOW_HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  // GL gives the bottom row first; images keep the top row first.
  for (int y = 0; y < SHOW_HEIGHT; ++y)
    std::memcpy(shot->image[0] + y * SHOW_WIDTH * 3, rows.data() + (SHOW_HEIGHT - 1 - y) * SHOW_WIDTH * 3,
                SHOW_WIDTH * 3);
  const std::string name = dir + "/frame-" + std::to_string(t) + ".png";
  const bool ok = txSave(TX_FILE_PNG, name.c_str(), shot) == 0;
  txFree(&shot);
  wmSwapBuffers(showState.window);
  wmProcessEvents();
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  std::string pack = BRISK_SHOW_PACK, out = ".";
  std::vector<std::int32_t> shots;
  int step = 40;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "--pack") {
      pack = value;
    } else if (flag == "--step") {
      step = std::max(1, std::atoi(value.c_str()));
    } else if (flag == "--out") {
      out = value;
    } else if (flag == "--shots") {
      for (const char *p = value.c_str(); *p;) {
        shots.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    } else {
      std::fprintf(stderr, "usage: frame_bench [--pack FILE] [--step MS] [--shots T1,T2,... --out DIR]\n");
      return 2;
    }
  }
  SYS_RuntimeUnitsInit(argc > 0 ? 1 : 0, argv);
  SYS_InitSubsystems();
  SYS_FilePackOpen(pack.c_str());
  std::int32_t fullscreen = 0;
  showState.width = SHOW_WIDTH;
  showState.height = SHOW_HEIGHT;
  OpenShowWindow("frame_bench", &showState.width, &showState.height, &fullscreen);
  if (rgl::wglSwapIntervalEXT) rgl::wglSwapIntervalEXT(0);
  glFinishProc = reinterpret_cast<decltype(glFinishProc)>(GetGLProc("glFinish"));
  glReadPixelsProc = reinterpret_cast<decltype(glReadPixelsProc)>(GetGLProc("glReadPixels"));
  if (!glFinishProc || !glReadPixelsProc) {
    std::fprintf(stderr, "frame_bench: glFinish or glReadPixels missing\n");
    return 1;
  }
  PrepareLoading();
  BuildDebugFont();
  LoadShowData(g_data);
  rgl::glEnable(GL_NORMALIZE);
  std::printf("renderer: %s\n", reinterpret_cast<const char *>(rgl::glGetString(GL_RENDERER)));
  if (!shots.empty()) {
    for (std::int32_t t : shots)
      if (!Shot(t, out)) std::fprintf(stderr, "frame_bench: frame %d not written\n", t);
    return 0;
  }
  std::printf("show time 0 to %d ms in steps of %d ms, 800x600, swap interval 0\n", SHOW_END_TIME, step);
  NoDraw none;
  const Figures show = Run("show", step, GLDrawOps(), false);
  const Figures nogl = Run("no GL", step, GLDrawOps(), true);
  const Figures empty = Run("empty", step, none, false);
  std::printf("outside the GL driver: %.1f%% of the mean frame (%.3f of %.3f ms); clear, finish and swap alone: %.3f ms\n",
              100.0 * nogl.mean / show.mean, nogl.mean, show.mean, empty.mean);
  return 0;
}
