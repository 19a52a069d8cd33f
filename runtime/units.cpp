// Runtime glue: the unit start-up of the program. Each unit of the runtime
// does its share in a fixed order before the show's own code runs: the base
// library starts, the window manager, GL, GLU and image-loader units register
// their start and stop procedures and the texture cache is emptied.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/base.h"
#include "base/scoped.h"
#include "image/image.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"
#include "wm/wm.h"

namespace {

ShortString g_home_dir("/tmp");
ShortString g_program_dir("./");
SYS_CPU_t *g_cpu = nullptr;

void Nothing() {}

void WindowManagerStart() {
  if (wmInit() != 0) SYS_FatalError("WM initialization error.");
}

void TextureLoaderStart() { txInit(nullptr); }

// The log file is named relative to the directory the program was started
// from; the unit start-up then moves into the program's directory. Pinning
// the name to an absolute path keeps the whole log in one file.
void PinLogFile() {
  if (!(SYS_DbgGetFlag() & SYS_DBG_ON)) return;
  intptr_t named = SYS_CfgGet("debug-log", 1);
  std::string name = (named != 0 && named != -1) ? reinterpret_cast<const char *>(named) : "debug.log";
  errClear();
  if (name.empty() || name[0] == '/') return;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return;
  SYS_DbgLogFile((std::string(cwd) + "/" + name).c_str());
}

// Base-library unit.
void BaseUnitInit(int argc, char **argv) {
  SYS_BaseInit(nullptr, argc, argv, &g_cpu);
  SYS_AddExitProc("Release base lib ...", 0, Nothing);
  if (auto home = brisk::OwnMem(SYS_PathGet(SYS_PATH_HOME, ""))) g_home_dir.assign(home.get());
  if (auto dir = brisk::OwnMem(SYS_PathGet(SYS_PATH_SYSTEM, ""))) g_program_dir.assign(dir.get());
  PinLogFile();
  std::string dir(g_program_dir.view());
  if (chdir(dir.c_str()) != 0) {
    std::fprintf(stderr, "cannot change to the program directory '%s': %s\n", dir.c_str(), std::strerror(errno));
    std::exit(1);
  }
}

}  // namespace

extern "C" {

void SYS_RuntimeUnitsInit(int argc, char **argv) {
  BaseUnitInit(argc, argv);
  // Window-manager unit.
  SYS_AddInitProc("Window manager ...", 1, WindowManagerStart);
  SYS_AddExitProc("Uninit window manager ...", 1, Nothing);
  // GL unit.
  SYS_AddInitProc("GL unit ...", 2, LoadOpenGL);
  SYS_AddExitProc("Uninit GL unit ...", 2, UnloadOpenGL);
  // GLU unit.
  SYS_AddInitProc("GLU unit ...", 3, LoadGLU);
  SYS_AddExitProc("Uninit GLU unit ...", 3, UnloadGLU);
  // Image-loader unit: the loader reads through the framework's file layer.
  SYS_AddInitProc("Texture loader ...", 4, TextureLoaderStart);
  SYS_AddExitProc("Uninit texture loader ...", 4, Nothing);
  // The error unit joins here with the message boxes: its start-up installs
  // the framework's error callback (the file-not-found dialog).
  // Texture-cache unit.
  TexCacheReset();
}

const ShortString *SYS_HomeDir(void) { return &g_home_dir; }
const ShortString *SYS_ProgramDir(void) { return &g_program_dir; }

}  // extern "C"
