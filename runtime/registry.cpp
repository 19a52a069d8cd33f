// Runtime glue: subsystem registry, fatal-error path, log and memory wrappers.
#include "runtime/registry.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/base.h"
#include "base/errors.h"

namespace {

struct ProcTable {
  bool cleared = false;
  SYS_TExitProcEntry slots[SYS_PROC_SLOTS] = {};

  int Add(const char *name, int slot, SYS_TExitProc proc) {
    // Slots are fixed by the registering units; one outside the table would
    // write past it, so it is refused.
    if (slot < 0 || slot >= SYS_PROC_SLOTS) return brisk::Fail(SYS_ERR_ARG, -1);
    if (!cleared) {
      for (auto &e : slots) e = SYS_TExitProcEntry{};
      cleared = true;
    }
    SYS_TExitProcEntry &e = slots[slot];
    e.name.assign(name ? std::string_view(name) : std::string_view());
    e.proc = proc;
    e.used = 1;
    return 0;
  }

  void Remove(const char *name) {
    SYS_TExitProcName wanted(name ? std::string_view(name) : std::string_view());
    for (auto &e : slots) {
      if (e.name.view() == wanted.view()) {
        e.used = 0;
        return;
      }
    }
  }

  const SYS_TExitProcEntry *Entry(int slot) const {
    return slot >= 0 && slot < SYS_PROC_SLOTS ? &slots[slot] : nullptr;
  }
};

ProcTable g_init;
ProcTable g_exit;

// Shared conversion buffer of SYS_PChar.
char *g_pchar = nullptr;
std::int32_t g_pchar_capacity = 0;

// One log line of the runtime built from pieces, cut like a short string.
void WriteLine(std::string_view a, std::string_view b) {
  ShortString s(a);
  s.append(b);
  SYS_WriteLn(std::string(s.view()).c_str());
}

}  // namespace

extern "C" {

int SYS_AddInitProc(const char *name, int slot, SYS_TExitProc proc) { return g_init.Add(name, slot, proc); }
int SYS_AddExitProc(const char *name, int slot, SYS_TExitProc proc) { return g_exit.Add(name, slot, proc); }
void SYS_RemoveInitProc(const char *name) { g_init.Remove(name); }
void SYS_RemoveExitProc(const char *name) { g_exit.Remove(name); }
const SYS_TExitProcEntry *SYS_InitProcEntry(int slot) { return g_init.Entry(slot); }
const SYS_TExitProcEntry *SYS_ExitProcEntry(int slot) { return g_exit.Entry(slot); }

void SYS_InitSubsystems(void) {
  SYS_WriteLn("[init] --- subsystems");
  for (const auto &e : g_init.slots) {
    if (e.used != 1) continue;
    SYS_WriteLn("[init] -------------------------");
    WriteLine("[init] call : ", e.name.view());
    if (e.proc) e.proc();
  }
  SYS_WriteLn("[init] --- end");
}

void SYS_ExitSubsystems(std::uint8_t code) {
  SYS_WriteLn("[exit] --- subsystems");
  for (int slot = SYS_PROC_SLOTS - 1; slot >= 0; --slot) {
    const SYS_TExitProcEntry &e = g_exit.slots[slot];
    if (e.used != 1) continue;
    WriteLine("[exit] call : ", e.name.view());
    if (e.proc) e.proc();
  }
  SYS_WriteLn("[exit]");
  SYS_BaseDone();
  std::exit(code);
}

void SYS_FatalError(const char *message) {
  // The message and its terminator fit one short string: 254 characters at most.
  ShortStr<254> text(message ? std::string_view(message) : std::string_view());
  std::string zt(text.view());
  SYS_SystemMessageBox("Error!", zt.c_str(), SYS_MSGBOX_ERROR);
  SYS_WriteLn(zt.c_str());
  SYS_ExitSubsystems(0);
}

void SYS_WriteLn(const char *s) {
  ShortString line(s ? std::string_view(s) : std::string_view());
  line.append("\n");
  char out[256];
  line.copy_to(out);
  SYS_DbgLog(out);
}

void SYS_Write(const char *s) {
  ShortString piece(s ? std::string_view(s) : std::string_view());
  char out[256];
  piece.copy_to(out);
  SYS_DbgLog(out);
}

char *SYS_PChar(const unsigned char *s) {
  std::int32_t len = s ? s[0] : 0;
  // The buffer also exists for an empty string, so the result is never null.
  if (!g_pchar || len > g_pchar_capacity) {
    SYS_PasFreeMem(reinterpret_cast<void **>(&g_pchar));
    g_pchar = static_cast<char *>(SYS_PasGetMem(len + 5, "PasStr"));
    if (!g_pchar) {
      g_pchar_capacity = 0;
      return nullptr;
    }
    g_pchar_capacity = len;
  }
  if (len > 0) std::memcpy(g_pchar, s + 1, static_cast<std::size_t>(len));
  g_pchar[len] = '\0';
  return g_pchar;
}

void *SYS_PasGetMem(std::int32_t size, const char *name) { return _SYS_MemGet(size, "[pas]", 0, name); }

void SYS_PasReallocMem(void **p, std::int32_t size, const char *name) {
  _SYS_MemRealloc(p, size, "[pas]", 0, name);
}

void SYS_PasFreeMem(void **p) { _SYS_MemFree(p, "[pas]", 0); }

}  // extern "C"
