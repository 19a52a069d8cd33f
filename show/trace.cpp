// The show's trace (see trace.h).
#include "show/trace.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

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

// One slot per step number; 0 for a step that has not ended.
constexpr int kSteps = 14;

struct Trace {
  std::FILE *file = nullptr;
  double main_ms = 0;
  double step_ms[kSteps] = {};
};

Trace g_trace;

}  // namespace

namespace brisk::show {

void TraceOpen() {
  g_trace.main_ms = MonotonicMs();
  const char *path = std::getenv("BRISK_SHOW_TRACE");
  if (path && *path) g_trace.file = std::fopen(path, "a");
}

void TraceStep(StartStep step) {
  const int n = static_cast<int>(step);
  if (g_trace.file && n > 0 && n < kSteps) g_trace.step_ms[n] = MonotonicMs() - g_trace.main_ms;
}

void TraceFirstFrame() {
  if (!g_trace.file) return;
  double since_main = MonotonicMs() - g_trace.main_ms;
  for (int n = 1; n < kSteps; ++n)
    if (g_trace.step_ms[n] > 0) std::fprintf(g_trace.file, "step %d %.2f\n", n, g_trace.step_ms[n]);
  std::fprintf(g_trace.file, "first-frame %.2f %.2f\n", since_main, MsSinceProcessStart());
  std::fflush(g_trace.file);
}

void TraceClockKey(int code, int adjust, int t) {
  if (!g_trace.file) return;
  std::fprintf(g_trace.file, "clock-key %d %d %d\n", code, adjust, t);
  std::fflush(g_trace.file);
}

void TraceEnd(int quit, int t, long frames) {
  if (!g_trace.file) return;
  std::fprintf(g_trace.file, "end %d %d %ld\n", quit, t, frames);
  std::fclose(g_trace.file);
  g_trace.file = nullptr;
}

}  // namespace brisk::show
