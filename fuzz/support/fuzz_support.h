// Pieces every fuzz target shares.
//
// Scratch files have fixed names in the working directory (the scripts run
// each target in a directory of its own), so that the same input takes the
// same path through the code on every run and every machine: a name with a
// process id or random letters in it would change what the file layer walks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/support/live_memory.h"

namespace fuzzsupport {

// Replaces path with exactly these bytes. False when it cannot be written.
inline bool WriteScratch(const char *path, const std::uint8_t *data, std::size_t size) {
  std::FILE *f = std::fopen(path, "wb");
  if (!f) return false;
  const bool whole = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && whole;
}

// Tracked blocks stay reachable from the allocator's own list, so the leak
// sanitizer cannot see one that an input left behind: the allocator's total
// must come back to the figure it had before the first input. Reading the
// report costs a file write, so it is read every `every` inputs.
class TrackedMemoryCheck {
 public:
  TrackedMemoryCheck(const char *target, unsigned every) : target_(target), every_(every) {}

  // At the start of every input: the first one takes the baseline.
  void BeforeInput() {
    if (baseline_ < 0) baseline_ = Now();
  }

  // At the end of every input.
  void AfterInput() {
    if (++runs_ % every_ != 0) return;
    const long now = Now();
    if (now != baseline_) {
      std::fprintf(stderr, "%s: tracked memory grew from %ld to %ld bytes\n", target_, baseline_, now);
      std::abort();
    }
  }

 private:
  static long Now() { return brisktest::ReadLiveMemory(kReport).bytes; }
  static constexpr const char *kReport = "fuzz-live-blocks.txt";
  const char *target_;
  unsigned every_;
  unsigned runs_ = 0;
  long baseline_ = -1;
};

}  // namespace fuzzsupport
