// Helpers of the runtime and show tests: forked children for process-wide
// start-up, the framework log read back, the show's executable run as a
// child process with its own environment, real key presses through xdotool,
// and a small Ogg Vorbis sound track for the show to play.
#pragma once

#include "tests/support/child.h"
#include <gtest/gtest.h>

#include <functional>

#include <string>
#include <vector>

namespace rttest {

using brisktest::InChild;

// SYS_RuntimeUnitsInit with this command line (entry 0 is the program path).
void StartUnits(std::vector<std::string> args);
// SYS_BaseInit alone with this command line.
void StartBase(std::vector<std::string> args);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text);
std::vector<std::string> Lines(const std::string &text);
// Index of the first line at or after `from` equal to `line`, or -1.
long FindLine(const std::vector<std::string> &lines, const std::string &line, long from = 0);

// Writes `seconds` of quiet stereo sound at 44100 Hz as an Ogg Vorbis file.
bool WriteOgg(const std::string &path, double seconds);

// The show's executable of this build tree, copied into the working
// directory (so that its log and pack lie beside it) as ./moth.
std::string CopyShow();

// The show's data files in the working directory, as small fixtures: twelve
// interfaces of one plain layer each and a 2 by 2 "piggy.tga". A file on
// disk wins over the pack, so the show loads these. Returns false when a
// file could not be written.
bool WriteShowFixture();

// A child process with its own arguments and extra environment; its standard
// output and error go to files.
class Program {
 public:
  Program(const std::string &path, std::vector<std::string> args, std::vector<std::string> env);
  ~Program();
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  int pid() const { return pid_; }
  bool Running();
  // Waits for the end (safety net: limit_ms), returns the exit code, or -1
  // for a process that was killed by a signal or did not end in time.
  int Wait(int limit_ms = 120000);
  std::string Out() const;
  std::string Err() const;

 private:
  int pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string out_, err_;
};

// Waits until done() holds, polling; false after limit_ms (a safety net only).
bool WaitFor(const std::function<bool()> &done, int limit_ms = 120000);
// Runs xdotool with these arguments; true when it succeeded.
bool Xdotool(const std::string &args);
// Runs one program with its arguments through the shell (safety net: 30 s)
// and returns its standard output; empty when it failed.
std::string CommandOutput(const std::string &command);

}  // namespace rttest
