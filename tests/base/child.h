// Helpers of the base library tests.
//
// The base library's start-up and shutdown are process-wide, so every case
// that starts it (or needs an empty block list, a fresh argument list or its
// own environment) runs in a forked child. Expectations inside the child are
// ordinary gtest expectations: the child prints its failures and reports them
// through its exit status, which the parent checks.
#pragma once

#include "tests/support/child.h"
#include "tests/support/scratch.h"
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"

namespace basetest {

using brisktest::InChild;

// Starts the base library with this command line (entry 0 is the program path).
inline void StartBase(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  SYS_BaseInit(nullptr, static_cast<int>(args.size()), argv.data(), nullptr);
}

inline bool Exists(const std::string &path) { return std::filesystem::exists(path); }

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The message parts of the module lines "[tag][file:line:func()] message" of
// one tag, as "func: message", in file order.
inline std::vector<std::string> ModuleLines(const std::string &text, const std::string &tag) {
  std::vector<std::string> out;
  const std::regex line("^\\[" + tag + "\\]\\[[^:\\]]+:[0-9]+:([A-Za-z_0-9]+)\\(\\)\\] (.*)$");
  for (const auto &l : Lines(text)) {
    std::smatch m;
    if (std::regex_match(l, m, line)) out.push_back(m[1].str() + ": " + m[2].str());
  }
  return out;
}

// Escapes text for use inside a regular expression.
inline std::string Quote(const std::string &text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// The local time stamp of the log and the memory report: "YYYYMMDD HHMMSS".
inline const char *kStamp = "[0-9]{8} [0-9]{6}";

// Every test works in a fresh directory of its own below the working directory.
using Scratch = brisktest::ScratchTest;

}  // namespace basetest
