// Dynamic modules over dlopen: the "Modules/%s-linux.so" candidate, the list
// of loaded modules, dllInit and the base symbol table it is handed.
#include "base/dl.h"

#include <dlfcn.h>  // Required for: dlopen, dlsym, dlclose, dlerror

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "base/base.h"
#include "base/dl_internal.h"
#include "base/file.h"
#include "base/info.h"
#include "base/internal.h"
#include "base/zblock.h"

namespace brisk::base {
namespace {

// Functions that plug-ins can ask for by name, in lookup order.
template <typename F>
void *Fn(F *function) {
  return reinterpret_cast<void *>(function);
}
const BaseSymbol kBaseSymbols[] = {
    {"SYS_DbgSetFlag", Fn(SYS_DbgSetFlag)},
    {"SYS_DbgLogFile", Fn(SYS_DbgLogFile)},
    {"SYS_DbgPrintf", Fn(SYS_DbgPrintf)},
    {"SYS_DbgLog", Fn(SYS_DbgLog)},
    {"SYS_DetectSystem", Fn(SYS_DetectSystem)},
    {"errClear", Fn(errClear)},
    {"errSetCallback", Fn(errSetCallback)},
    {"errSetLastError", Fn(errSetLastError)},
    {"errSetLastErrorEx", Fn(errSetLastErrorEx)},
    {"errGetLastError", Fn(errGetLastError)},
    {"SYS_DlOpen", Fn(SYS_DlOpen)},
    {"SYS_DlGetProc", Fn(SYS_DlGetProc)},
    {"SYS_DlClose", Fn(SYS_DlClose)},
    {"SYS_DlGetList", Fn(SYS_DlGetList)},
    {"SYS_TimerGet", Fn(SYS_TimerGet)},
    {"SYS_TimerSetAdjust", Fn(SYS_TimerSetAdjust)},
    {"SYS_TimerReset", Fn(SYS_TimerReset)},
    {"SYS_TimerPause", Fn(SYS_TimerPause)},
    {"SYS_Sleep", Fn(SYS_Sleep)},
    {"SYS_MemInfo", Fn(SYS_MemInfo)},
    {"_SYS_MemFree", Fn(_SYS_MemFree)},
    {"SYS_MemDump", Fn(SYS_MemDump)},
    {"_SYS_MemGet", Fn(_SYS_MemGet)},
    {"_SYS_MemRealloc", Fn(_SYS_MemRealloc)},
    {"SYS_MemSize", Fn(SYS_MemSize)},
    {"_SYS_StrDup", Fn(_SYS_StrDup)},
    {"SYS_MemTotal", Fn(SYS_MemTotal)},
    {"SYS_MemAvail", Fn(SYS_MemAvail)},
    {"SYS_GetCPU", Fn(SYS_GetCPU)},
    {"SYS_CfgGet", Fn(SYS_CfgGet)},
    {"SYS_CfgAdd", Fn(SYS_CfgAdd)},
    {"SYS_CfgLoad", nullptr},  // configuration file module not built yet
    {"SYS_CfgSave", nullptr},  // configuration file module not built yet
    {"SYS_FilePackOpen", Fn(SYS_FilePackOpen)},
    {"SYS_FindPack", Fn(SYS_FindPack)},
    {"SYS_FileOpen", Fn(SYS_FileOpen)},
    {"SYS_FileSeek", Fn(SYS_FileSeek)},
    {"SYS_FileRead", Fn(SYS_FileRead)},
    {"SYS_FileWrite", Fn(SYS_FileWrite)},
    {"SYS_FileGetStr", Fn(SYS_FileGetStr)},
    {"SYS_FilePutStr", Fn(SYS_FilePutStr)},
    {"SYS_FileClose", Fn(SYS_FileClose)},
    {"SYS_FileExist", Fn(SYS_FileExist)},
    {"SYS_FileSize", Fn(SYS_FileSize)},
    {"SYS_PathSetHomeBase", Fn(SYS_PathSetHomeBase)},
    {"SYS_PathGet", Fn(SYS_PathGet)},
    {"SYS_MkDir", Fn(SYS_MkDir)},
    {"SYS_Glob", Fn(SYS_Glob)},
    {"SYS_GlobFree", Fn(SYS_GlobFree)},
    {"SYS_ZSetCompLevel", Fn(SYS_ZSetCompLevel)},
    {"SYS_ZCompress", Fn(SYS_ZCompress)},
    {"SYS_ZUncompress", Fn(SYS_ZUncompress)},
    {"SYS_ZCrc32", Fn(SYS_ZCrc32)},
    {"SYS_ZAdler", Fn(SYS_ZAdler)},
    {"SYS_TrimLeft", Fn(SYS_TrimLeft)},
    {"SYS_StrSwap", Fn(SYS_StrSwap)},
    {"SYS_StrRep", Fn(SYS_StrRep)},
    {"SYS_StrLwr", Fn(SYS_StrLwr)},
    {"SYS_StrUpr", Fn(SYS_StrUpr)},
    {"SYS_Trim", Fn(SYS_Trim)},
    {"SYS_Items", Fn(SYS_Items)},
    {"SYS_Cut", Fn(SYS_Cut)},
    {"SYS_Cuti", Fn(SYS_Cuti)},
    {"SYS_Cutu", Fn(SYS_Cutu)},
    {"SYS_Cutf", Fn(SYS_Cutf)},
    {"SYS_Str2Uri", Fn(SYS_Str2Uri)},
    {"SYS_Uri2Str", Fn(SYS_Uri2Str)},
    {"SYS_GetString", Fn(SYS_GetString)},
    {"SYS_ThreadCreate", Fn(SYS_ThreadCreate)},
    {"SYS_ThreadKill", Fn(SYS_ThreadKill)},
    {"SYS_ThreadExit", Fn(SYS_ThreadExit)},
    {"SYS_ThreadSelf", Fn(SYS_ThreadSelf)},
    {"SYS_MutexCreate", Fn(SYS_MutexCreate)},
    {"SYS_MutexDestroy", Fn(SYS_MutexDestroy)},
    {"SYS_MutexLock", Fn(SYS_MutexLock)},
    {"SYS_MutexUnlock", Fn(SYS_MutexUnlock)},
    {"SYS_IConvToUCS", Fn(SYS_IConvToUCS)},
    {"SYS_LangSetFile", nullptr},  // phrase files not built yet
    {"SYS_LangGetPhrase", nullptr},
    {"SYS_LangDestroy", nullptr},
    {"SYS_ListAddFirst", Fn(SYS_ListAddFirst)},
    {"SYS_ListAddLast", Fn(SYS_ListAddLast)},
    {"SYS_ListDelItem", Fn(SYS_ListDelItem)},
    {"SYS_ListRemove", Fn(SYS_ListRemove)},
    {"SYS_SocketResolve", nullptr},  // sockets not built yet
    {"SYS_SocketNew", nullptr},
    {"SYS_SocketConnect", nullptr},
    {"SYS_SocketListen", nullptr},
    {"SYS_SocketAccept", nullptr},
    {"SYS_SocketClear", nullptr},
    {"SYS_SocketClose", nullptr},
    {"SYS_SocketSend", nullptr},
    {"SYS_SocketRead", nullptr},
    {"SYS_SocketFGets", nullptr},
    {"SYS_XMLOpen", nullptr},  // XML reader not built yet
    {"SYS_XMLClose", nullptr},
    {"SYS_XMLSetCB", nullptr},
    {"SYS_XMLParse", nullptr},
};
static_assert(std::size(kBaseSymbols) == 98);

// The module list, newest first.
std::mutex g_modules_lock;
TModule *g_modules = nullptr;

int DlLevel() { return SwitchLevel(g_debug.dl); }

// The error number behind a dlerror() text: glibc ends the text with the
// system's message for it (": No such file or directory"); texts that name
// no system error give 0.
int DlErrorNumber(const char *message) {
  if (!message) return 0;
  const char *tail = std::strrchr(message, ':');
  if (!tail) return 0;
  std::string_view text(tail + 1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  for (int e = 1; e < 256; ++e) {
    char buffer[256];
    if (text == strerror_r(e, buffer, sizeof buffer)) return e;
  }
  return 0;
}

// A new list record for (handle, name) at the head; false when out of memory.
bool Register(void *handle, const char *name) {
  auto *module = static_cast<TModule *>(SYS_MemGet(sizeof(TModule), "SYS_DlAddLib: register new module"));
  if (!module) return false;
  module->name = SYS_StrDup(name);
  if (!module->name) {
    SYS_MemFree(module);
    return false;
  }
  module->handle = handle;
  std::lock_guard lock(g_modules_lock);
  module->next = g_modules;
  g_modules = module;
  return true;
}

}  // namespace

std::span<const BaseSymbol> BaseSymbols() { return kBaseSymbols; }

// Forgets the module list (a step of SYS_BaseDone): the records go, the
// modules stay loaded.
void DlShutdown() {
  std::lock_guard lock(g_modules_lock);
  while (TModule *module = g_modules) {
    g_modules = module->next;
    SYS_MemFree(module->name);
    SYS_MemFree(module);
  }
}

}  // namespace brisk::base

using namespace brisk::base;

extern "C" void *SYS_DlOpen(const char *name) {
  errClear();
  if (!name) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  {
    std::lock_guard lock(g_modules_lock);
    for (TModule *m = g_modules; m; m = m->next) {
      if (std::strcmp(m->name, name) == 0) {
        SYS_MSG(DlLevel(), "dl", "preloaded module: %s\n", name);
        return m->handle;
      }
    }
  }

  // A framework module lives under Modules/; a name that already carries
  // the platform suffix is taken as it is.
  std::string candidate = std::strstr(name, "-linux.so") ? std::string(name) : "Modules/" + std::string(name) + "-linux.so";
  SYS_MSG(DlLevel(), "dl", "Load lib: %s\n", candidate.c_str());
  void *handle = dlopen(candidate.c_str(), RTLD_NOW);
  if (!handle) {
    SYS_MSG(DlLevel(), "dl", "failed,  try %s.\n", name);
    handle = dlopen(name, RTLD_NOW);
    if (!handle) {
      const int number = DlErrorNumber(dlerror());
      SYS_MSG(DlLevel(), "dl", "error: ");
      if (number == ENOENT) {
        SYS_DbgPrintf(0, "lib (%s) not found.\n", name);
        errSetLastError(SYS_ERR_DL_NOTFOUND);
      } else {
        SYS_DbgPrintf(0, "unknown error (%d)\n", number);
        errSetLastError(SYS_ERR_DL_LOAD);
      }
      return nullptr;
    }
  }

  errClear();
  if (auto init = reinterpret_cast<SYS_DllInit_t>(SYS_DlGetProc(handle, "dllInit"))) init(SYS_BaseGetProc);

  errClear();
  if (!Register(handle, name)) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  SYS_MSG(DlLevel(), "dl", "address: 0x%08" PRIxPTR "\n", reinterpret_cast<uintptr_t>(handle));
  return handle;
}

extern "C" void *SYS_DlGetProc(void *handle, const char *symbol) {
  errClear();
  if (!handle) {
    errSetLastError(SYS_ERR_DL_HANDLE);
    return nullptr;
  }
  if (!symbol) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  dlerror();  // forget an earlier failure
  void *address = dlsym(handle, symbol);
  if (!address) {
    const char *message = dlerror();
    if (g_debug.dlsymbols) SYS_MSG(SYS_LOG_INFO, "dl", "symbol not found: %s (%d)\n", symbol, DlErrorNumber(message));
  }
  return address;
}

extern "C" int SYS_DlClose(void *handle) {
  errClear();
  if (!handle) {
    errSetLastError(SYS_ERR_DL_HANDLE);
    return -1;
  }
  {
    std::lock_guard lock(g_modules_lock);
    for (TModule **link = &g_modules; *link; link = &(*link)->next) {
      TModule *m = *link;
      SYS_MSG(DlLevel(), "dl", "release: %s\n", m->name);
      if (m->handle == handle) {
        *link = m->next;
        SYS_MemFree(m->name);
        SYS_MemFree(m);
        break;
      }
    }
  }
  if (dlclose(handle) != 0) {
    errSetLastError(SYS_ERR_DL_UNLOAD);
    return -1;
  }
  return 0;
}

extern "C" TModule *SYS_DlGetList(void) {
  errClear();
  std::lock_guard lock(g_modules_lock);
  return g_modules;
}

extern "C" int SYS_DlAddLib(void *handle, const char *name) {
  errClear();
  if (!handle || !name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  if (!Register(handle, name)) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  return 0;
}

extern "C" void *SYS_BaseGetProc(const char *name) {
  if (!name) return nullptr;
  for (const BaseSymbol &s : kBaseSymbols)
    if (std::strcmp(s.name, name) == 0) return s.function;
  return nullptr;
}
