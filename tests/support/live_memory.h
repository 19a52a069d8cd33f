// What the tracked allocator holds right now, read from its own report.
// Tracked blocks stay reachable from the allocator's list, so the sanitizers'
// leak check cannot see a leaked one; comparing these figures can.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "base/mem.h"

namespace brisktest {

struct LiveMemory {
  long bytes = -1;     // "Total:" of the report; -1 when it could not be written
  int blocks = 0;      // one " -> N bytes" line per live block
  std::string report;  // the whole report
};

// Writes the report to path (a scratch file, removed afterwards) and reads it back.
inline LiveMemory ReadLiveMemory(const char *path = "live-blocks.txt") {
  LiveMemory live;
  if (SYS_MemInfo(path) != 0) return live;
  {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    live.report = all.str();
  }
  std::remove(path);
  std::istringstream lines(live.report);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" -> ") != std::string::npos && line.find(" bytes") != std::string::npos) ++live.blocks;
    if (line.rfind("Total: ", 0) == 0) live.bytes = std::stol(line.substr(7));
  }
  return live;
}

inline long LiveTrackedBytes() { return ReadLiveMemory().bytes; }

}  // namespace brisktest
