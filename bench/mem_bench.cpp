// Cost of one tracked allocation and release against plain malloc + free, for
// a few block sizes, on one thread and on two threads at once (the list of live
// blocks is shared, so the second thread shows what its lock costs).
//
// The tracked block is zero-filled; calloc is the system allocator doing the
// same work and is listed for reference.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "base/mem.h"

namespace {

void Malloc(benchmark::State &state) {
  const auto size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void *p = std::malloc(size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}

void Calloc(benchmark::State &state) {
  const auto size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void *p = std::calloc(1, size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}

void Tracked(benchmark::State &state) {
  const auto size = state.range(0);
  for (auto _ : state) {
    void *p = SYS_MemGet(size, "bench");
    benchmark::DoNotOptimize(p);
    SYS_MemFree(p);
  }
}

// The same pairs while other blocks are live (the set and the list are not empty).
void TrackedAmongLive(benchmark::State &state) {
  const auto size = state.range(0);
  static void *live[1000];
  if (state.thread_index() == 0)
    for (void *&p : live) p = SYS_MemGet(32, "resident");
  for (auto _ : state) {
    void *p = SYS_MemGet(size, "bench");
    benchmark::DoNotOptimize(p);
    SYS_MemFree(p);
  }
  if (state.thread_index() == 0)
    for (void *&p : live) SYS_MemFree(p);
}

void Sizes(benchmark::internal::Benchmark *b) {
  for (int size : {16, 64, 256, 4096}) b->Arg(size);
}

}  // namespace

BENCHMARK(Malloc)->Apply(Sizes);
BENCHMARK(Calloc)->Apply(Sizes);
BENCHMARK(Tracked)->Apply(Sizes);
BENCHMARK(TrackedAmongLive)->Arg(64);
BENCHMARK(Malloc)->Apply(Sizes)->Threads(2);
BENCHMARK(Tracked)->Apply(Sizes)->Threads(2);
