// Shared by the system information and module tests: a base library run with
// chosen switches, and a scratch directory per test so that tests of one
// binary running side by side never share a "debug.log".
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/base.h"
#include "tests/support/scratch.h"

namespace sysinfo_test {

// SYS_BaseInit with a program name and the given switches; SYS_BaseDone on scope exit.
class BaseSession {
 public:
  explicit BaseSession(std::vector<std::string> switches, void *module = nullptr) {
    args_.push_back("./sysinfo_test");
    for (auto &s : switches) args_.push_back(std::move(s));
    for (auto &a : args_) argv_.push_back(a.data());
    SYS_BaseInit(module, static_cast<int>(argv_.size()), argv_.data(), &cpu);
  }
  ~BaseSession() { SYS_BaseDone(); }
  BaseSession(const BaseSession &) = delete;
  BaseSession &operator=(const BaseSession &) = delete;

  SYS_CPU_t *cpu = nullptr;

 private:
  std::vector<std::string> args_;
  std::vector<char *> argv_;
};

inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::string Log() { return ReadFile("debug.log"); }

// Runs each test in a fresh directory of its own under the working directory.
using brisktest::ScratchTest;

}  // namespace sysinfo_test
