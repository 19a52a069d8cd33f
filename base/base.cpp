// Base library start-up and shutdown, and the path rules of SYS_PathGet.
#include "base/base.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "base/dl.h"
#include "base/info.h"
#include "base/internal.h"

namespace {

const char *g_home_base = ".brisk";

// Program directory: entry 0 of the argument list up to its last separator
// (the whole entry when it has none).
std::string ProgramDir() {
  const char *arg0 = SYS_CfgEntry(0);
  std::string dir = arg0 ? arg0 : "";
  auto cut = dir.rfind('/');
  if (cut != std::string::npos) dir.resize(cut);
  return dir;
}

// First of HOME, HOMEDRIVE, HOMEPATH, USERPROFILE that is set; the program
// directory when none is, or when the value is a bare separator.
std::string HomeDir() {
  for (const char *var : {"HOME", "HOMEDRIVE", "HOMEPATH", "USERPROFILE"}) {
    if (const char *v = std::getenv(var)) {
      if (std::strcmp(v, "/") == 0 || std::strcmp(v, "\\") == 0) break;
      return v;
    }
  }
  return ProgramDir();
}

// The desktop folder: XDG_DESKTOP_DIR from the user's user-dirs.dirs, else HOME/Desktop.
std::string DesktopDir(const std::string &home) {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  std::string dirs = (config && *config) ? std::string(config) : home + "/.config";
  dirs += "/user-dirs.dirs";
  if (FILE *f = std::fopen(dirs.c_str(), "r")) {
    char line[1024];
    std::string found;
    while (std::fgets(line, sizeof line, f)) {
      std::string s = line;
      if (s.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
      s = s.substr(16);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
      if (s.rfind("$HOME", 0) == 0) s = home + s.substr(5);
      found = s;
    }
    std::fclose(f);
    if (!found.empty()) return found;
  }
  return home + "/Desktop";
}

std::string TempDir() {
  for (const char *var : {"TEMP", "TMPDIR"})
    if (const char *v = std::getenv(var); v && *v) return v;
  return "/tmp";
}

}  // namespace

extern "C" char *SYS_PathGet(unsigned kind, const char *name) {
  errClear();
  if (kind == SYS_PATH_NONE) return nullptr;
  if (kind > SYS_PATH_TEMP) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  if (!name) name = "";
  std::string home = HomeDir();
  std::string result;
  const char *tag = "SYS_PathGet: home_cfgdir";
  switch (kind) {
    case SYS_PATH_SYSTEM: {
      const char *arg0 = SYS_CfgEntry(0);
      result = (arg0 && std::strchr(arg0, '/')) ? ProgramDir() + "/" + name : std::string("./") + name;
      tag = "SYS_PathGet: system_dir";
      break;
    }
    case SYS_PATH_HOME:
      result = home + "/" + name;
      tag = "SYS_PathGet: home_dir";
      break;
    case SYS_PATH_HOMECFG:
      result = home + "/" + g_home_base + "/config/" + name;
      break;
    case SYS_PATH_DESKTOP:
      result = DesktopDir(home) + "/" + name;
      break;
    case SYS_PATH_TEMP:
      result = TempDir() + "/" + name;
      tag = "SYS_PathGet: tmp";
      break;
  }
  brisk::base::WithSlashes(result);
  auto *out = static_cast<char *>(_SYS_MemGet(static_cast<int>(result.size() + 1), __FILE_NAME__, __LINE__, tag));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  std::memcpy(out, result.c_str(), result.size() + 1);
  return out;
}

extern "C" const char *SYS_PathSetHomeBase(const char *base) {
  g_home_base = base;
  return base;
}

extern "C" int SYS_MkDir(const char *path) {
  if (!path || !*path) return 1;
  if (mkdir(path, 0755) == 0) return 0;
  if (errno != ENOENT && errno != ENOTDIR) return 1;
  // Make the parent (cut at the last separator that has a name after it), then
  // this one once more. The answer is that of the retry: a path below a plain
  // file is a failure, and the parent step cannot repeat itself for ever.
  std::string_view whole(path);
  auto last = whole.find_last_not_of('/');
  auto cut = last == std::string_view::npos ? last : whole.rfind('/', last);
  if (cut == std::string_view::npos || cut == 0) return 1;
  std::string parent(whole.substr(0, cut));
  if (SYS_MkDir(parent.c_str()) != 0) return 1;
  return mkdir(path, 0755) == 0 ? 0 : 1;
}

extern "C" int SYS_BaseInit(void *module, int count, char **arguments, SYS_CPU_t **cpu) {
  using namespace brisk::base;
  // 1. Thread module: mutex kind and the thread-list lock.
  SYS_ThreadInit();
  // 2. The argument list, entry 0 first.
  for (int i = 0; i < count && arguments; ++i) SYS_CfgAdd(arguments[i]);
  // 3. Log: error state, debug switches, log file and banners.
  LogStartup();
  // 4. Memory manager switches.
  MemStartup();
  // 5.
  errClear();
  // 6. Socket library start-up: nothing to start for BSD sockets.
  // 7. Processor description for the caller.
  if (cpu) *cpu = SYS_GetCPU();
  // 8. The show clock.
  SYS_TimerReset();
  // 9. The program's own module, preloaded as "Base".
  if (module) SYS_DlAddLib(module, "Base");
  // 10. Where home and the program directory are.
  char *home = SYS_PathGet(SYS_PATH_HOME, "");
  char *sys = SYS_PathGet(SYS_PATH_SYSTEM, "");
  SYS_MSG(SwitchLevel(g_debug.base), "base", "HOME: '%s'\n", home ? home : "");
  SYS_MSG(SwitchLevel(g_debug.base), "base", "SYSTEM DIR: '%s'\n", sys ? sys : "");
  SYS_MemFree(home);
  SYS_MemFree(sys);
  return 0;
}

extern "C" int SYS_BaseDone(void) {
  using namespace brisk::base;
  // 1.
  errClear();
  // 2. Threads: the list lock goes, every thread still registered is reported.
  SYS_ThreadDone();
  // 3. Texts kept by the system information module.
  InfoShutdown();
  // The module list's records go before the final sweep; modules stay loaded.
  DlShutdown();
  // 4. Socket library shutdown: nothing to stop.
  // 5. The argument list.
  CfgRelease();
  // 6. File module shutdown.
  FileShutdown();
  // 7. End of log.
  LogShutdown();
  // 8. Leak report and the final sweep.
  MemShutdown();
  return 0;
}
