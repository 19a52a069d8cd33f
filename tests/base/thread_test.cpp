// Named threads with the cooperative stop, priorities, recursive mutexes and
// the report of threads still registered at shutdown.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "child.h"

namespace {

using namespace basetest;

class Threads : public Scratch {};

// The "[thread]" lines of the log as "function: message".
std::vector<std::string> ThreadLines() { return ModuleLines(ReadFile("debug.log"), "thread"); }

std::vector<std::string> Matching(const std::vector<std::string> &lines, const std::string &part) {
  std::vector<std::string> out;
  for (const auto &l : lines)
    if (l.find(part) != std::string::npos) out.push_back(l);
  return out;
}

void WaitFor(const std::atomic<bool> &flag) {
  while (!flag) SYS_Sleep(1);
}

int ReturnAtOnce(void *data) {
  static_cast<std::atomic<bool> *>(data)->store(true);
  return 5;
}

TEST_F(Threads, ThreadThatReturnsWithoutExitCanBeKilled) {
  InChild([] {
    StartBase({"prog", "-v"});
    std::atomic<bool> ran{false};
    SYS_Thread_p t = SYS_ThreadCreate(ReturnAtOnce, &ran, 0, "quick");
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->name, "quick");
    WaitFor(ran);
    EXPECT_EQ(SYS_ThreadKill(t), 0);
    SYS_BaseDone();
  });
  // The thread's own end line may come before or after the creator's second
  // line and the kill request; the kill's state line comes last.
  const auto lines = ThreadLines();
  auto quick = Matching(lines, "quick");
  ASSERT_EQ(quick.size(), 5u) << ReadFile("debug.log");
  EXPECT_EQ(quick.front(), "SYS_ThreadCreate: create thread: \"quick\"");
  EXPECT_EQ(quick.back(), "SYS_ThreadKill: [SYS_ThreadKill] thread: 'quick' state: 2");
  std::sort(quick.begin() + 1, quick.end() - 1);
  EXPECT_EQ(std::vector<std::string>(quick.begin() + 1, quick.end() - 1),
            (std::vector<std::string>{"SYS_ThreadCreate: thread created: \"quick\" (priority: 0)",
                                      "SYS_ThreadKill: [SYS_ThreadKill] terminate thread: \"quick\"",
                                      "StartRoutine: [SYS_ThreadExit] thread: 'quick' state: 2"}));
  EXPECT_TRUE(Matching(lines, "Unterminated").empty());
}

// The worker notes what SYS_ThreadExit answered before and after the kill request.
struct Probe {
  std::atomic<int> before{-1};
  std::atomic<bool> checked{false};
  std::atomic<int> after{-1};
  std::atomic<bool> past_exit{false};
};

int Worker(void *data) {
  auto *probe = static_cast<Probe *>(data);
  SYS_Thread_p self = SYS_ThreadSelf();
  probe->before = SYS_ThreadExit(self);
  probe->checked = true;
  int answer;
  while ((answer = SYS_ThreadExit(self)) == 0) {
  }
  probe->after = answer;
  SYS_ThreadExit(nullptr);
  probe->past_exit = true;  // never reached
  return 0;
}

TEST_F(Threads, KillAndExitProtocol) {
  InChild([] {
    StartBase({"prog", "-v"});
    Probe probe;
    SYS_Thread_p t = SYS_ThreadCreate(Worker, &probe, 1, "worker");
    ASSERT_NE(t, nullptr);
    WaitFor(probe.checked);
    EXPECT_EQ(t->state, SYS_THREAD_RUNNING);
    EXPECT_EQ(t->stop, 0);
    EXPECT_EQ(SYS_ThreadKill(t), 0);
    EXPECT_EQ(probe.before, 0);
    EXPECT_EQ(probe.after, 1);
    EXPECT_FALSE(probe.past_exit);
    SYS_BaseDone();
  });
  const auto lines = Matching(ThreadLines(), "worker");
  ASSERT_GE(lines.size(), 5u) << ReadFile("debug.log");
  EXPECT_EQ(lines.front(), "SYS_ThreadCreate: create thread: \"worker\"");
  const std::vector<std::string> end(lines.end() - 3, lines.end());
  EXPECT_EQ(end, (std::vector<std::string>{"SYS_ThreadKill: [SYS_ThreadKill] terminate thread: \"worker\"",
                                           "SYS_ThreadExit: [SYS_ThreadExit] thread: 'worker' state: 2",
                                           "SYS_ThreadKill: [SYS_ThreadKill] thread: 'worker' state: 2"}))
      << ReadFile("debug.log");
}

TEST_F(Threads, KillRightAfterCreateNeverHangs) {
  InChild([] {
    StartBase({"prog"});
    std::atomic<bool> ran{false};
    for (int i = 0; i < 200; ++i) {
      SYS_Thread_p t = SYS_ThreadCreate(ReturnAtOnce, &ran, 0, "brief");
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(SYS_ThreadKill(t), 0);
    }
    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_EQ(ReadFile("report.txt").find("SYS_ThreadCreate"), std::string::npos);
    SYS_BaseDone();
  });
}

TEST_F(Threads, BadArguments) {
  InChild([] {
    StartBase({"prog"});
    errClear();
    EXPECT_EQ(SYS_ThreadKill(nullptr), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
    std::atomic<bool> ran{false};
    EXPECT_EQ(SYS_ThreadCreate(ReturnAtOnce, &ran, 0, nullptr), nullptr);
    EXPECT_EQ(errGetLastError(), SYS_ERR_NOMEM);
    EXPECT_EQ(SYS_ThreadCreate(nullptr, &ran, 0, "no procedure"), nullptr);
    EXPECT_NE(errGetLastError(), 0);
    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_EQ(ReadFile("report.txt").find("SYS_ThreadCreate"), std::string::npos) << ReadFile("report.txt");
    SYS_BaseDone();
  });
}

TEST_F(Threads, SelfOnAThreadNotMadeHereEndsTheProcess) {
  EXPECT_EXIT(
      {
        StartBase({"prog", "-v"});
        SYS_ThreadSelf();
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "");
  EXPECT_TRUE(std::regex_search(ReadFile("debug.log"), std::regex("\n\\[thread\\] \\(thread\\.cpp:[0-9]+\\) !!! list is NULL\n")))
      << ReadFile("debug.log");
}

// --- priorities ---------------------------------------------------------------

struct NiceProbe {
  std::atomic<int> nice{-100};
  std::atomic<bool> done{false};
};

int ReadOwnNice(void *data) {
  auto *probe = static_cast<NiceProbe *>(data);
  errno = 0;
  probe->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  probe->done = true;
  return 0;
}

struct PriorityCase {
  int priority;
  int nice_above_process;  // the nice value the thread runs at, relative to the process
};

class Priority : public Scratch, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(Priority, MapsToTheNiceValueAndIsLoggedAsGiven) {
  const PriorityCase c = GetParam();
  const int process_nice = getpriority(PRIO_PROCESS, 0);
  if (c.nice_above_process && process_nice != 0) GTEST_SKIP() << "the process does not run at nice 0";
  InChild([&] {
    StartBase({"prog", "-v"});
    NiceProbe probe;
    SYS_Thread_p t = SYS_ThreadCreate(ReadOwnNice, &probe, c.priority, "prio");
    ASSERT_NE(t, nullptr);
    WaitFor(probe.done);
    EXPECT_EQ(probe.nice, process_nice + c.nice_above_process);
    EXPECT_EQ(SYS_ThreadKill(t), 0);
    SYS_BaseDone();
  });
  EXPECT_EQ(Matching(ThreadLines(), "thread created"),
            std::vector<std::string>{"SYS_ThreadCreate: thread created: \"prio\" (priority: " +
                                     std::to_string(c.priority) + ")"});
}

INSTANTIATE_TEST_SUITE_P(Values, Priority,
                         ::testing::Values(PriorityCase{0, 0}, PriorityCase{5, 0}, PriorityCase{-7, 0},
                                           PriorityCase{-1, 5}));

// A raise of priority may be refused (no privilege); the thread runs anyway.
TEST_F(Threads, RefusedPriorityIsNotFatal) {
  InChild([] {
    StartBase({"prog", "-v"});
    NiceProbe probe;
    SYS_Thread_p t = SYS_ThreadCreate(ReadOwnNice, &probe, 2, "high");
    ASSERT_NE(t, nullptr);
    WaitFor(probe.done);
    EXPECT_EQ(SYS_ThreadKill(t), 0);
    SYS_BaseDone();
  });
}

// --- mutexes and shutdown ---------------------------------------------------------

TEST_F(Threads, MutexIsRecursive) {
  InChild([] {
    StartBase({"prog"});
    SYS_Thread_Mutex_p m = SYS_MutexCreate();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(SYS_MutexLock(m), 0);
    EXPECT_EQ(SYS_MutexLock(m), 0);  // the holder may lock again
    std::atomic<bool> other_has_it{false};
    std::thread other([&] {
      SYS_MutexLock(m);
      other_has_it = true;
      SYS_MutexUnlock(m);
    });
    EXPECT_EQ(SYS_MutexUnlock(m), 0);
    SYS_Sleep(50);
    EXPECT_FALSE(other_has_it) << "one unlock of two released the mutex";
    EXPECT_EQ(SYS_MutexUnlock(m), 0);
    other.join();
    EXPECT_TRUE(other_has_it);
    EXPECT_EQ(SYS_MutexDestroy(m), 0);
    EXPECT_EQ(SYS_MutexLock(nullptr), 0);
    EXPECT_EQ(SYS_MutexUnlock(nullptr), 0);
    EXPECT_EQ(SYS_MutexDestroy(nullptr), 0);
    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_EQ(ReadFile("report.txt").find("SYS_MutexCreate"), ReadFile("report.txt").rfind("SYS_MutexCreate"))
        << "only the registry lock is left";
    SYS_BaseDone();
  });
}

int Idle(void *) {
  for (;;) pause();
}

TEST_F(Threads, ThreadsNeverKilledAreReportedAtShutdown) {
  InChild([] {
    StartBase({"prog", "-v"});
    std::atomic<bool> ran{false};
    SYS_Thread_p idle = SYS_ThreadCreate(Idle, nullptr, 0, "idle");
    SYS_Thread_p done = SYS_ThreadCreate(ReturnAtOnce, &ran, 0, "done");
    ASSERT_NE(idle, nullptr);
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(SYS_ThreadKill(done), 0);
    SYS_Thread_p exited = SYS_ThreadCreate(ReturnAtOnce, &ran, 0, "exited");
    ASSERT_NE(exited, nullptr);
    pthread_join(exited->handle, nullptr);  // ended, but never killed
    SYS_BaseDone();
    // The idle thread still runs; the process ends without waiting for it.
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  });
  const auto lines = Matching(ThreadLines(), "Unterminated");
  EXPECT_EQ(lines, (std::vector<std::string>{"SYS_ThreadDone: !!! Unterminated thread: \"exited\"",
                                             "SYS_ThreadDone: !!! Unterminated thread: \"idle\""}))
      << ReadFile("debug.log");
  const std::string log = ReadFile("debug.log");
  EXPECT_LT(log.find("Unterminated thread: \"idle\""), log.find("--- End of log."));
}

}  // namespace
