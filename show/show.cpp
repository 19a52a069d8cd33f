// The show: program entry, start-up order, frame loop and shutdown.
#include "show/show.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/base.h"
#include "base/file.h"
#include "runtime/gl.h"
#include "runtime/music.h"
#include "runtime/registry.h"
#include "runtime/window.h"

extern "C" {
std::int32_t showWidth = 0;
std::int32_t showHeight = 0;
std::int32_t showTime = 0;
std::int32_t showDebug = 0;
const std::int32_t showNoSound = 0;
const std::int32_t showVerticalSync = 1;
const std::int32_t showTextureQuality = 0;
}

namespace {

// --- test seam: BRISK_SHOW_TRACE ------------------------------------------

double MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Milliseconds since the kernel started this process (clock-tick resolution),
// or -1 when /proc does not say.
double MsSinceProcessStart() {
  FILE *f = std::fopen("/proc/self/stat", "r");
  if (!f) return -1;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  // Fields after the command name (which may hold blanks) start past the last ')'.
  char *p = nullptr;
  for (char *q = buf; *q; ++q)
    if (*q == ')') p = q;
  if (!p) return -1;
  unsigned long long start_ticks = 0;
  // State is field 3; the start time is field 22.
  int field = 2;
  for (char *tok = std::strtok(p + 1, " "); tok; tok = std::strtok(nullptr, " ")) {
    if (++field == 22) {
      start_ticks = std::strtoull(tok, nullptr, 10);
      break;
    }
  }
  if (field != 22) return -1;
  timespec boot{};
  clock_gettime(CLOCK_BOOTTIME, &boot);
  double now_ms = boot.tv_sec * 1e3 + boot.tv_nsec / 1e6;
  return now_ms - static_cast<double>(start_ticks) * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class Trace {
 public:
  void Open() {
    main_ms_ = MonotonicMs();
    const char *path = std::getenv("BRISK_SHOW_TRACE");
    if (path && *path) file_ = std::fopen(path, "a");
  }
  void Step(int n) {
    if (file_ && n > 0 && n < kSteps) step_ms_[n] = MonotonicMs() - main_ms_;
  }
  void FirstFrame() {
    if (!file_) return;
    double since_main = MonotonicMs() - main_ms_;
    for (int n = 1; n < kSteps; ++n)
      if (step_ms_[n] > 0) std::fprintf(file_, "step %d %.2f\n", n, step_ms_[n]);
    std::fprintf(file_, "first-frame %.2f %.2f\n", since_main, MsSinceProcessStart());
    std::fflush(file_);
  }
  void ClockKey(int code, int adjust, int t) {
    if (!file_) return;
    std::fprintf(file_, "clock-key %d %d %d\n", code, adjust, t);
    std::fflush(file_);
  }
  void End(int quit, int t, long frames) {
    if (!file_) return;
    std::fprintf(file_, "end %d %d %ld\n", quit, t, frames);
    std::fclose(file_);
    file_ = nullptr;
  }

 private:
  static constexpr int kSteps = 14;
  std::FILE *file_ = nullptr;
  double main_ms_ = 0;
  double step_ms_[kSteps] = {};
};

Trace g_trace;

// The clock was moved: the music follows.
void TellMusic(int ms) {
  if (!showNoSound && showMusic) FSS_SetMusicTime(showMusic, ms);
}

// --- start-up --------------------------------------------------------------

void StartUp(int argc, char **argv) {
  // 1. Unit start-up of the runtime: base library, registry entries, error
  //    callback, texture cache.
  SYS_RuntimeUnitsInit(argc, argv);
  g_trace.Step(1);
  // 2. Window manager, GL and GLU entry points, image loader.
  SYS_InitSubsystems();
  g_trace.Step(2);
  // 3. The show's pack beside the program; a missing pack is not an error.
  if (char *pack = SYS_PathGet(SYS_PATH_SYSTEM, "moth.moth")) {
    SYS_FilePackOpen(pack);
    SYS_MemFree(pack);
  }
  g_trace.Step(3);
  // 4. The window, its GL check and four black frames.
  std::int32_t fullscreen = 0;
  showWidth = 800;
  showHeight = 600;
  OpenShowWindow("DOVEZUDIDOZE", &showWidth, &showHeight, &fullscreen);
  g_trace.Step(4);
  // 5.
  showDebug = SYS_CfgGet("debug", 0) != 0 ? 1 : 0;
  // 6.
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // 7. Loading preparation: image loader options and an empty texture cache.
  // 8. The debug font texture.
  // 9. The show's data behind the loading screen.
  g_trace.Step(9);
  // 10.
  rgl::glEnable(GL_NORMALIZE);
  // 11. Clock and frame-rate text start at zero.
  showTime = 0;
  // 12. The sound track, from its beginning.
  if (!showNoSound) StartMusic("demo.ogg");
  g_trace.Step(12);
  // 13. The show's clock starts now.
  SYS_TimerReset();
  g_trace.Step(13);
}

// --- one frame ---------------------------------------------------------------

void Frame() {
  // 1.
  rgl::glViewport(0, 0, 800, 600);
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // 2. The clock; the pattern state follows from it.
  showTime = SYS_TimerGet();
  // 3.
  rgl::glDisable(GL_LIGHTING);
  rgl::glDisable(GL_TEXTURE_2D);
  rgl::glColor3f(1, 1, 1);
  rgl::glEnable(GL_TEXTURE_2D);
  // 4. The schedule of the current pattern: all drawing of the show.
  // 5. The frame-rate counter.
  // 6. The swap interval, every frame.
  if (rgl::wglSwapIntervalEXT) rgl::wglSwapIntervalEXT(showVerticalSync ? 1 : 0);
  // 7. A known state for the overlay.
  rgl::glDisable(GL_LIGHTING);
  rgl::glViewport(0, 0, showWidth, showHeight);
  rgl::glColor3f(1, 1, 1);
  rgl::glDisable(GL_TEXTURE_2D);
  rgl::glMatrixMode(GL_PROJECTION);
  rgl::glLoadIdentity();
  rgl::glMatrixMode(GL_MODELVIEW);
  rgl::glLoadIdentity();
  rgl::glDisable(GL_DEPTH_TEST);
  // 8. Debug mode: the overlay, then the clock keys.
  if (showDebug) ShowClockKeys();
  // 9. Present, pump the window's events, report GL errors.
  wmSwapBuffers(showWindow);
  showLastKey = 0;
  wmProcessEvents();
  DrainGLErrors();
}

}  // namespace

extern "C" {

void DrainGLErrors(void) {
  // Each read clears one error flag; the bound only guards against a driver
  // that keeps reporting (a lost context).
  for (int i = 0; i < 64; ++i) {
    GLenum code = rgl::glGetError();
    if (code == GL_NO_ERROR) break;
    const GLubyte *text = rgl::gluErrorString(code);
    std::printf("GL_ERROR:%s\n", text ? reinterpret_cast<const char *>(text) : "");
  }
  std::fflush(stdout);
}

void ShowClockKeys(void) {
  int key = showLastKey;
  int adjust = 0;
  if (key == WM_KEY_RIGHT) {
    adjust = SYS_TimerSetAdjust(-1000);
    TellMusic(SYS_TimerGet());
  } else if (key == WM_KEY_LEFT) {
    adjust = SYS_TimerSetAdjust(1000);
    TellMusic(SYS_TimerGet());
  } else if (key == WM_KEY_HOME) {
    SYS_TimerReset();
    TellMusic(0);
  } else if (key == WM_KEY_PAGEUP) {
    adjust = SYS_TimerSetAdjust(5000);
    TellMusic(SYS_TimerGet());
  } else if (key == WM_KEY_PAGEDOWN) {
    adjust = SYS_TimerSetAdjust(-5000);
    TellMusic(SYS_TimerGet());
  } else {
    return;
  }
  g_trace.ClockKey(key, adjust, SYS_TimerGet());
}

int ShowMain(int argc, char **argv) {
  g_trace.Open();
  StartUp(argc, argv);

  long frames = 0;
  while (showQuit == 0 && showTime < SHOW_END_TIME) {
    Frame();
    if (++frames == 1) g_trace.FirstFrame();
  }
  g_trace.End(showQuit, showTime, frames);

  // Normal end: the registry's stop sequence does not run on this path.
  if (!showNoSound) StopMusic();
  CloseShowWindow();
  return 0;
}

}  // extern "C"
