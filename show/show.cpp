// The show: program entry, start-up order, frame loop and shutdown.
#include "show/show.h"

#include <cstdio>

#include "base/base.h"
#include "base/file.h"
#include "base/scoped.h"
#include "runtime/gl.h"
#include "runtime/music.h"
#include "runtime/registry.h"
#include "runtime/showstate.h"
#include "runtime/window.h"
#include "show/font.h"
#include "show/loading.h"
#include "show/overlay.h"
#include "show/timeline.h"
#include "show/trace.h"

namespace {

using brisk::show::StartStep;
using brisk::show::TraceStep;

// What the show loads and derives from its clock; lives until the process ends.
struct Show {
  ShowData data;
  ShowTimeline timeline;
};
Show g_show;

// The clock was moved: the music follows.
void TellMusic(int ms) {
  if constexpr (!showNoSound) {
    if (showState.music) FSS_SetMusicTime(showState.music, ms);
  }
}

// Clock calls of the debug keys; each returns the clock adjustment afterwards.
int AdjustClock(int delta) {
  const int adjust = SYS_TimerSetAdjust(delta);
  TellMusic(SYS_TimerGet());
  return adjust;
}

int RestartClock(int) {
  SYS_TimerReset();
  TellMusic(0);
  return 0;
}

struct ClockKey {
  int key;
  int (*call)(int arg);
  int arg;
};

// A negative adjustment moves the clock forward.
constexpr ClockKey kClockKeys[] = {
    {WM_KEY_LEFT, AdjustClock, 1000},    {WM_KEY_RIGHT, AdjustClock, -1000},
    {WM_KEY_PAGEUP, AdjustClock, 5000},  {WM_KEY_PAGEDOWN, AdjustClock, -5000},
    {WM_KEY_HOME, RestartClock, 0},
};

// --- start-up --------------------------------------------------------------

void StartUp(int argc, char **argv) {
  // Base library, registry entries and texture cache of the runtime's units.
  SYS_RuntimeUnitsInit(argc, argv);
  TraceStep(StartStep::kUnits);
  // Window manager, GL and GLU entry points, image loader.
  SYS_InitSubsystems();
  TraceStep(StartStep::kSubsystems);
  // The show's pack beside the program; a missing pack is not an error.
  if (auto pack = brisk::OwnMem(SYS_PathGet(SYS_PATH_SYSTEM, "moth.moth"))) SYS_FilePackOpen(pack.get());
  TraceStep(StartStep::kPack);
  // The window, its GL check and four black frames.
  std::int32_t fullscreen = 0;
  showState.width = SHOW_WIDTH;
  showState.height = SHOW_HEIGHT;
  OpenShowWindow("DOVEZUDIDOZE", &showState.width, &showState.height, &fullscreen);
  TraceStep(StartStep::kWindow);
  showState.debug = SYS_CfgGet("debug", 0) != 0 ? 1 : 0;
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // Image loader options and an empty texture cache, the debug font, then
  // the show's data behind the loading screen.
  PrepareLoading();
  showOverlay.font = BuildDebugFont();
  LoadShowData(g_show.data);
  TraceStep(StartStep::kData);
  rgl::glEnable(GL_NORMALIZE);
  showState.time = 0;
  ResetFrameRate();
  // The sound track, from its beginning.
  if constexpr (!showNoSound) StartMusic("demo.ogg");
  TraceStep(StartStep::kMusic);
  // The show's clock starts now.
  SYS_TimerReset();
  TraceStep(StartStep::kClock);
}

// --- one frame ---------------------------------------------------------------

void Frame() {
  rgl::glViewport(0, 0, SHOW_WIDTH, SHOW_HEIGHT);
  rgl::glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // The clock; the pattern state follows from it.
  showState.time = SYS_TimerGet();
  UpdateTimeline(g_show.timeline, showState.time);
  rgl::glDisable(GL_LIGHTING);
  rgl::glDisable(GL_TEXTURE_2D);
  rgl::glColor3f(1, 1, 1);
  rgl::glEnable(GL_TEXTURE_2D);
  // The schedule of the current pattern: all drawing of the show.
  DrawSchedule(g_show.timeline, showState.time, g_show.data, GLDrawOps());
  CountFrame(showState.time);
  if (rgl::wglSwapIntervalEXT) rgl::wglSwapIntervalEXT(showVerticalSync ? 1 : 0);
  // A known state for the overlay.
  rgl::glDisable(GL_LIGHTING);
  rgl::glViewport(0, 0, showState.width, showState.height);
  rgl::glColor3f(1, 1, 1);
  rgl::glDisable(GL_TEXTURE_2D);
  rgl::glMatrixMode(GL_PROJECTION);
  rgl::glLoadIdentity();
  rgl::glMatrixMode(GL_MODELVIEW);
  rgl::glLoadIdentity();
  rgl::glDisable(GL_DEPTH_TEST);
  // Debug mode: the overlay, then the clock keys.
  if (showState.debug) {
    const ShowTimeline &tl = g_show.timeline;
    DrawOverlay(showState.time, tl.showStep, tl.showPattern, tl.showFlash);
    ShowClockKeys();
  }
  // Present, pump the window's events, report GL errors.
  wmSwapBuffers(showState.window);
  showState.lastKey = 0;
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
  const int key = showState.lastKey;
  for (const ClockKey &k : kClockKeys) {
    if (k.key != key) continue;
    const int adjust = k.call(k.arg);
    brisk::show::TraceClockKey(key, adjust, SYS_TimerGet());
    return;
  }
}

int ShowMain(int argc, char **argv) {
  brisk::show::TraceOpen();
  StartUp(argc, argv);

  long frames = 0;
  while (showState.quit == 0 && showState.time < SHOW_END_TIME) {
    Frame();
    if (++frames == 1) brisk::show::TraceFirstFrame();
  }
  brisk::show::TraceEnd(showState.quit, showState.time, frames);

  // Normal end: the registry's stop sequence does not run on this path.
  if constexpr (!showNoSound) StopMusic();
  CloseShowWindow();
  return 0;
}

}  // extern "C"
