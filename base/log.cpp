// The argument list and its switches, the log, and the process-wide error state.
#include "base/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <strings.h>

#include "base/errors.h"
#include "base/info.h"
#include "base/internal.h"
#include "base/mem.h"

namespace brisk::base {
DebugSwitches g_debug;
}

namespace {

using brisk::base::g_debug;

// --- argument list ---------------------------------------------------------
char **g_args = nullptr;
int g_arg_count = 0;

// --- log -------------------------------------------------------------------
constexpr int kLineSize = 4096;
std::atomic<unsigned> g_flags{0};
char *g_log_name = nullptr;
std::recursive_mutex g_log_mutex;
char g_line[kLineSize];  // shared line buffer, only touched under g_log_mutex

// --- error state -----------------------------------------------------------
std::atomic<int> g_error{0};
std::atomic<errCallback_t> g_callback{nullptr};

const char *LevelPrefix(int level) {
  switch (level) {
    case SYS_LOG_WARN: return "[wrn]";
    case SYS_LOG_ERROR: return "[err]";
    default: return "";
  }
}

// A line cut to the buffer keeps its line end, so that the next line does not
// run on behind it in the file. `length` is what vsnprintf wanted to write.
void KeepLineEnd(int length, size_t used) {
  if (length < 0 || used + static_cast<size_t>(length) < kLineSize) return;
  g_line[kLineSize - 2] = '\n';
}

// "YYYYMMDD HHMMSS" of the local time into text.
void FormatStamp(char (&text)[32]) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::snprintf(text, sizeof text, "%d%02d%02d %02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// Writes g_line (already formatted) to the console and the log file, with the
// time stamp in front when `stamp` asks for it and the flag word allows it.
// The stamp is made on the stack: a tracked allocation here would log its own
// allocation line (-debug-memalloc) from inside this line, without end.
void Emit(bool stamp) {
  unsigned flags = g_flags.load(std::memory_order_relaxed);
  stamp = stamp && (flags & SYS_DBG_STAMP);
  char stamp_text[32];
  if (stamp) FormatStamp(stamp_text);
  const char *ts = stamp ? stamp_text : nullptr;
  if (flags & SYS_DBG_ECHO) {
    if (ts) std::fprintf(stdout, "%s ", ts);
    std::fputs(g_line, stdout);
    std::fflush(stdout);
  }
  if (g_log_name) {
    if (FILE *f = std::fopen(g_log_name, "a+")) {
      if (ts) std::fprintf(f, "%s ", ts);
      std::fputs(g_line, f);
      std::fflush(f);
      std::fclose(f);
    }
  }
}

}  // namespace

// --- argument list ---------------------------------------------------------

extern "C" int SYS_CfgAdd(const char *text) {
  auto **grown = static_cast<char **>(SYS_MemGet(sizeof(char *) * (g_arg_count + 1), "SYS_CfgAdd"));
  if (!grown) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  for (int i = 0; i < g_arg_count; ++i) grown[i] = g_args[i];
  grown[g_arg_count] = SYS_StrDup(text ? text : "");
  SYS_MemFree(g_args);
  g_args = grown;
  ++g_arg_count;
  return 0;
}

extern "C" intptr_t SYS_CfgGet(const char *name, int kind) {
  if (!name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  for (int i = 0; i < g_arg_count; ++i) {
    const char *arg = g_args[i];
    if ((arg[0] != '-' && arg[0] != '/') || strcasecmp(arg + 1, name) != 0) continue;
    if (kind == 0) return 1;
    if (kind < 0 || kind > 3 || i + 1 >= g_arg_count) {
      errSetLastError(SYS_ERR_ARG);
      return -1;
    }
    const char *value = g_args[i + 1];
    switch (kind) {
      case 1: return reinterpret_cast<intptr_t>(value);
      case 2: return std::atoi(value);
      default: return static_cast<int>(std::atof(value));
    }
  }
  return 0;
}

extern "C" int SYS_CfgCount(void) { return g_arg_count; }

extern "C" const char *SYS_CfgEntry(int index) {
  return (index >= 0 && index < g_arg_count) ? g_args[index] : nullptr;
}

void brisk::base::CfgRelease() {
  for (int i = 0; i < g_arg_count; ++i) SYS_MemFree(g_args[i]);
  SYS_MemFree(g_args);
  g_arg_count = 0;
}

// --- log -------------------------------------------------------------------

extern "C" char *SYS_TimeStamp(void) {
  char stamp[32];
  FormatStamp(stamp);
  auto *text = static_cast<char *>(SYS_MemGet(32, "SYS_TimeStamp"));
  if (text) std::memcpy(text, stamp, sizeof stamp);
  return text;
}

extern "C" void SYS_DbgMsg(int level, const char *format, ...) {
  if (!(g_flags.load(std::memory_order_relaxed) & SYS_DBG_ON) || !format) return;
  if (level == SYS_LOG_DEBUG && !g_debug.all) return;
  std::lock_guard lock(g_log_mutex);
  if (!(g_flags.load() & SYS_DBG_ON)) return;
  const char *prefix = LevelPrefix(level);
  size_t used = std::strlen(prefix);
  std::memcpy(g_line, prefix, used + 1);
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(g_line + used, kLineSize - used, format, args);
  va_end(args);
  KeepLineEnd(length, used);
  Emit(true);
}

extern "C" int SYS_DbgPrintf(int stamp, const char *format, ...) {
  if (!(g_flags.load(std::memory_order_relaxed) & SYS_DBG_ON) || !format) return 0;
  std::lock_guard lock(g_log_mutex);
  if (!(g_flags.load() & SYS_DBG_ON)) return 0;
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(g_line, kLineSize, format, args);
  va_end(args);
  KeepLineEnd(length, 0);
  Emit(stamp != 0);
  return 0;
}

extern "C" void SYS_DbgLog(const char *text) { SYS_DbgPrintf(1, "%s", text ? text : ""); }

extern "C" int SYS_DbgSetFlag(unsigned flags) {
  errClear();
  g_flags = flags;
  return 0;
}

extern "C" unsigned SYS_DbgGetFlag(void) { return g_flags.load(); }

extern "C" int SYS_DbgLogFile(const char *name) {
  errClear();
  if (!name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  std::lock_guard lock(g_log_mutex);
  SYS_MemFree(g_log_name);
  g_log_name = SYS_StrDup(name);
  return 0;
}

void brisk::base::LogStartup() {
  errClear();
  g_debug.all = SYS_CfgGet("debug-all", 0) == 1;
  g_debug.file = SYS_CfgGet("debug-file", 0) == 1;
  g_debug.dl = SYS_CfgGet("debug-dl", 0) == 1;
  g_debug.info = SYS_CfgGet("debug-info", 0) == 1;
  g_debug.cpu = SYS_CfgGet("debug-cpu", 0) == 1;
  g_debug.base = SYS_CfgGet("debug-base", 0) == 1;
  g_debug.xml = SYS_CfgGet("debug-xml", 0) == 1;

  unsigned flags = 0;
  if (SYS_CfgGet("v", 0) == 1) flags = SYS_DBG_ON;
  if (SYS_CfgGet("c", 0) == 1) flags = SYS_DBG_ON | SYS_DBG_ECHO;
  if (flags == 0) return;  // the log stays off
  if (SYS_CfgGet("debug-ts", 0) == 1) flags |= SYS_DBG_STAMP;

  intptr_t name = SYS_CfgGet("debug-log", 1);
  {
    std::lock_guard lock(g_log_mutex);
    SYS_MemFree(g_log_name);
    g_log_name = SYS_StrDup((name == 0 || name == -1) ? "debug.log" : reinterpret_cast<const char *>(name));
  }
  errClear();
  if (SYS_CfgGet("debug-append", 0) != 1 && g_log_name) std::remove(g_log_name);
  g_debug.dlsymbols = SYS_CfgGet("debug-dlsymbols", 0) == 1;
  g_flags = flags;

  SYS_DbgPrintf(0, "\n\n");
  SYS_DbgPrintf(1, "--- brisk!quantoven application framework 0.85\n");
  char *stamp = SYS_TimeStamp();
  SYS_DbgPrintf(1, "--- started : %s\n", stamp ? stamp : "");
  SYS_MemFree(stamp);
  SYS_DbgPrintf(1, "--- application : %s\n\n", SYS_CfgEntry(0) ? SYS_CfgEntry(0) : "");

  // System information lines (operating system and memory).
  SYS_DetectSystem();
}

void brisk::base::LogShutdown() {
  errClear();
  SYS_DbgPrintf(1, "\n--- End of log.\n\n");
  std::lock_guard lock(g_log_mutex);
  g_flags = 0;
  SYS_MemFree(g_log_name);
}

// --- error state -----------------------------------------------------------

extern "C" void errClear(void) { g_error.store(0); }

extern "C" void errSetLastError(int code) { g_error.store(code); }

extern "C" int errSetLastErrorEx(int code, const char *text) {
  g_error.store(code);
  errCallback_t callback = g_callback.load();
  if (text && callback) return callback(code, text);
  return 0;
}

extern "C" int errGetLastError(void) { return g_error.exchange(0); }

int brisk::PendingError() { return g_error.load(); }

extern "C" void errSetCallback(errCallback_t callback) { g_callback.store(callback); }
