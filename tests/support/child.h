// Runs a test body in a forked child process, for cases that need a fresh
// process (the base library started with other switches, state that cannot be
// undone). Failures inside the child are reported through its exit status; a
// child that hangs is ended after two minutes.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace brisktest {

inline void InChild(const std::function<void()> &body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_NE(pid, -1);
  if (pid == 0) {
    alarm(120);
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child reported failures (see above)";
}

}  // namespace brisktest
