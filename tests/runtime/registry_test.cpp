// The subsystem registry, the fatal-error path, the runtime's log and memory
// wrappers, the short string and the unit start-up. The tables are
// process-wide, so every case that registers runs in a forked child.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/base.h"
#include "runtime/registry.h"
#include "runtime/texcache.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using rttest::FindLine;
using rttest::InChild;
using rttest::Lines;
using rttest::ReadFile;

std::vector<std::string> g_calls;
void CallA() { g_calls.push_back("A"); }
void CallB() { g_calls.push_back("B"); }
void CallC() { g_calls.push_back("C"); }
void CallD() { g_calls.push_back("D"); }

// Stop procedures of the fatal-path cases say on standard error that they ran.
void Stop0() { std::fputs("stop 0\n", stderr); }
void Stop2() { std::fputs("stop 2\n", stderr); }
void Stop3() { std::fputs("stop 3\n", stderr); }
void Stop4() { std::fputs("stop 4\n", stderr); }
void Stop9() { std::fputs("stop 9\n", stderr); }

std::string Name(const SYS_TExitProcEntry *e) { return std::string(e->name.view()); }

// --- short strings --------------------------------------------------------------

TEST(ShortStr, AssignmentAndAppendCutToCapacity) {
  struct Case {
    const char *first;
    const char *appended;
    const char *expected;
  };
  const Case cases[] = {
      {"", "", ""},
      {"abc", "", "abc"},
      {"abcdefgh", "", "abcdefgh"},    // exactly the capacity
      {"abcdefghij", "", "abcdefgh"},  // cut on assignment
      {"abc", "defgh", "abcdefgh"},    // append fills it
      {"abc", "defghij", "abcdefgh"},  // append cut
      {"abcdefgh", "x", "abcdefgh"},   // nothing fits any more
  };
  for (const Case &c : cases) {
    ShortStr<8> s(c.first);
    s.append(c.appended);
    EXPECT_EQ(s.view(), c.expected) << c.first << " + " << c.appended;
    EXPECT_EQ(s.size(), std::string(c.expected).size());
  }
  ShortString full(std::string(300, 'q'));
  EXPECT_EQ(full.size(), 255u);
  ShortStr<8> s("abc");
  EXPECT_EQ(s.raw()[0], 3);  // the length byte comes first
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(s.raw()) + 1, 3), "abc");
}

// --- registration ---------------------------------------------------------------

TEST(Registry, SameSlotTwiceKeepsTheSecond) {
  InChild([] {
    EXPECT_EQ(SYS_AddInitProc("first", 5, CallA), 0);
    EXPECT_EQ(SYS_AddInitProc("second", 5, CallB), 0);
    const SYS_TExitProcEntry *e = SYS_InitProcEntry(5);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->used, 1);
    EXPECT_EQ(Name(e), "second");
    EXPECT_EQ(e->proc, &CallB);
    SYS_InitSubsystems();
    EXPECT_EQ(g_calls, std::vector<std::string>{"B"});
  });
}

TEST(Registry, StartProceduresRunInSlotOrderWithTheirLogLines) {
  InChild([] {
    rttest::StartBase({"./registry_test", "-v"});
    SYS_AddInitProc("Third ...", 31, CallC);
    SYS_AddInitProc("Second ...", 7, CallB);
    SYS_AddInitProc("First ...", 2, CallA);
    SYS_AddInitProc("Gone ...", 9, CallD);
    SYS_RemoveInitProc("Gone ...");
    SYS_AddExitProc("Stop only ...", 3, CallD);  // the stop table plays no part here
    SYS_InitSubsystems();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A", "B", "C"}));
    auto lines = Lines(ReadFile("debug.log"));
    const std::vector<std::string> expected = {
        "[init] --- subsystems",
        "[init] -------------------------", "[init] call : First ...",
        "[init] -------------------------", "[init] call : Second ...",
        "[init] -------------------------", "[init] call : Third ...",
        "[init] --- end"};
    long at = FindLine(lines, expected[0]);
    ASSERT_GE(at, 0);
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(lines.at(static_cast<std::size_t>(at) + i), expected[i]) << i;
  });
}

TEST(Registry, NamesAreStoredAndComparedCutTo32Characters) {
  InChild([] {
    std::string name40 = "0123456789abcdefghijklmnopqrstuvWXYZ++++";
    SYS_AddExitProc(name40.c_str(), 6, CallA);
    EXPECT_EQ(Name(SYS_ExitProcEntry(6)), name40.substr(0, 32));
    // Another name with the same first 32 characters is the same name.
    SYS_RemoveExitProc((name40.substr(0, 32) + "something else").c_str());
    EXPECT_EQ(SYS_ExitProcEntry(6)->used, 0);
  });
}

TEST(Registry, RemoveClearsTheFirstSlotWithAnEqualName) {
  struct Case {
    const char *what;
    const char *removed;
    std::vector<int> used_after;  // used flags of slots 3, 9, 12
  };
  const Case cases[] = {
      {"the first of two equal names", "Twice ...", {0, 1, 1}},
      {"a unique name", "Once ...", {1, 1, 0}},
      {"case matters", "twice ...", {1, 1, 1}},
      {"no such name", "Nobody ...", {1, 1, 1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    InChild([&] {
      SYS_AddInitProc("Twice ...", 3, CallA);
      SYS_AddInitProc("Twice ...", 9, CallB);
      SYS_AddInitProc("Once ...", 12, CallC);
      SYS_RemoveInitProc(c.removed);
      std::vector<int> used = {SYS_InitProcEntry(3)->used, SYS_InitProcEntry(9)->used,
                               SYS_InitProcEntry(12)->used};
      EXPECT_EQ(used, c.used_after);
    });
  }
  // The first equal name stops the search even when its slot is already unused.
  InChild([] {
    SYS_AddInitProc("Twice ...", 3, CallA);
    SYS_AddInitProc("Twice ...", 9, CallB);
    SYS_RemoveInitProc("Twice ...");
    SYS_RemoveInitProc("Twice ...");
    EXPECT_EQ(SYS_InitProcEntry(3)->used, 0);
    EXPECT_EQ(SYS_InitProcEntry(9)->used, 1);
  });
  // The two tables are separate.
  InChild([] {
    SYS_AddInitProc("Same ...", 4, CallA);
    SYS_AddExitProc("Same ...", 4, CallB);
    SYS_RemoveExitProc("Same ...");
    EXPECT_EQ(SYS_InitProcEntry(4)->used, 1);
    EXPECT_EQ(SYS_ExitProcEntry(4)->used, 0);
  });
}

TEST(Registry, SlotOutsideTheTableIsRefused) {
  InChild([] {
    for (int slot : {-1, 32, 1000}) {
      errClear();
      EXPECT_EQ(SYS_AddInitProc("Outside ...", slot, CallA), -1) << slot;
      EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
      EXPECT_EQ(SYS_AddExitProc("Outside ...", slot, CallA), -1) << slot;
      EXPECT_EQ(SYS_InitProcEntry(slot), nullptr);
    }
    EXPECT_EQ(SYS_AddInitProc("Edge ...", 31, CallA), 0);
    EXPECT_EQ(SYS_AddInitProc("Edge ...", 0, CallB), 0);
    SYS_InitSubsystems();
    EXPECT_EQ(g_calls, (std::vector<std::string>{"B", "A"}));
  });
}

// --- the fatal path -------------------------------------------------------------

void RegisterStops() {
  SYS_AddInitProc("Start two ...", 2, CallA);
  SYS_AddExitProc("Release base ...", 0, Stop0);  // no start procedure in slot 0
  SYS_AddExitProc("Uninit two ...", 2, Stop2);
  SYS_AddExitProc("Uninit three ...", 3, Stop3);
  SYS_AddExitProc("Uninit four ...", 4, Stop4);
  SYS_AddExitProc("Uninit nine ...", 9, Stop9);
  SYS_RemoveExitProc("Uninit nine ...");
}

TEST(RegistryDeathTest, FatalErrorShowsTheMessageRunsTheStopsInReverseAndEndsWithZero) {
  EXPECT_EXIT(
      {
        setenv("BRISK_BATCH", "1", 1);
        rttest::StartBase({"./registry_test", "-v"});
        RegisterStops();
        SYS_FatalError("Something broke.");
      },
      ::testing::ExitedWithCode(0), "^Error!: Something broke\\.\nstop 4\nstop 3\nstop 2\nstop 0\n$");
  auto lines = Lines(ReadFile("debug.log"));
  const std::vector<std::string> expected = {
      "Something broke.",           "[exit] --- subsystems",       "[exit] call : Uninit four ...",
      "[exit] call : Uninit three ...", "[exit] call : Uninit two ...", "[exit] call : Release base ...",
      "[exit]"};
  long at = FindLine(lines, expected[0]);
  ASSERT_GE(at, 0) << ReadFile("debug.log");
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines.at(static_cast<std::size_t>(at) + i), expected[i]);
  // The base library was shut down: its end-of-log line follows.
  EXPECT_GE(FindLine(lines, "--- End of log.", at), 0);
}

TEST(RegistryDeathTest, FatalErrorWithTheLogOffStillReportsAndWritesNoLog) {
  fs::remove("debug.log");
  EXPECT_EXIT(
      {
        setenv("BRISK_BATCH", "1", 1);
        rttest::StartBase({"./registry_test"});
        RegisterStops();
        SYS_FatalError(std::string(300, 'x').c_str());
      },
      ::testing::ExitedWithCode(0), "^Error!: " + std::string(254, 'x') + "\nstop 4\n");
  EXPECT_FALSE(fs::exists("debug.log"));
}

TEST(RegistryDeathTest, ExitSubsystemsEndsWithTheGivenCode) {
  for (int code : {0, 1, 7}) {
    EXPECT_EXIT(
        {
          RegisterStops();
          SYS_ExitSubsystems(static_cast<std::uint8_t>(code));
        },
        ::testing::ExitedWithCode(code), "^stop 4\nstop 3\nstop 2\nstop 0\n$");
  }
}

// --- log and memory wrappers ------------------------------------------------------

TEST(Registry, WriteAndWriteLnBuildLogLinesAsShortStrings) {
  InChild([] {
    rttest::StartBase({"./registry_test", "-v"});
    SYS_Write("[gl] - ");
    SYS_Write("piece");
    SYS_WriteLn(" : available");
    std::string s254(254, 'a'), s255(255, 'b'), s300(300, 'c');
    SYS_WriteLn(s254.c_str());  // the line end still fits
    SYS_WriteLn(s255.c_str());  // no room for the line end: the next text joins this line
    SYS_WriteLn("joined");
    SYS_WriteLn(s300.c_str());  // cut to 255, no line end
    SYS_WriteLn("");
    SYS_Write(nullptr);
    SYS_WriteLn(nullptr);
    auto lines = Lines(ReadFile("debug.log"));
    long at = FindLine(lines, "[gl] - piece : available");
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines.at(at + 1), s254);
    EXPECT_EQ(lines.at(at + 2), s255 + "joined");
    EXPECT_EQ(lines.at(at + 3), std::string(255, 'c'));
    EXPECT_EQ(lines.at(at + 4), "");
  });
}

TEST(Registry, PCharConvertsIntoOneSharedTrackedBuffer) {
  InChild([] {
    ShortStr<16> hello("hello");
    char *p = SYS_PChar(hello);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "hello");
    EXPECT_EQ(SYS_MemSize(p), 5 + 5);

    ShortString longer(std::string(200, 'L'));
    char *q = SYS_PChar(longer);
    EXPECT_EQ(std::string(q), std::string(200, 'L'));
    EXPECT_EQ(SYS_MemSize(q), 200 + 5);

    // Shorter strings reuse the buffer.
    char *r = SYS_PChar(hello);
    EXPECT_EQ(r, q);
    EXPECT_STREQ(r, "hello");
    ShortStr<4> empty("");
    EXPECT_STREQ(SYS_PChar(empty), "");

    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_NE(ReadFile("report.txt").find("[[pas]:0] PasStr -> 205 bytes"), std::string::npos);
  });
  // An empty string as the very first conversion still gives a buffer.
  InChild([] {
    ShortStr<4> empty("");
    char *p = SYS_PChar(empty);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "");
  });
}

TEST(Registry, PasMemoryIsTrackedAndReleaseClearsThePointer) {
  InChild([] {
    auto *p = static_cast<unsigned char *>(SYS_PasGetMem(64, "glInitExt: DDS Support"));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0) << i;
    p[0] = 42;
    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_NE(ReadFile("report.txt").find("[[pas]:0] glInitExt: DDS Sup"), std::string::npos);
    void *v = p;
    SYS_PasReallocMem(&v, 4096, "grown");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(static_cast<unsigned char *>(v)[0], 42);
    EXPECT_EQ(SYS_MemSize(v), 4096);
    SYS_PasFreeMem(&v);
    EXPECT_EQ(v, nullptr);
    ASSERT_EQ(SYS_MemInfo("report.txt"), 0);
    EXPECT_EQ(ReadFile("report.txt").find("[[pas]:0]"), std::string::npos);
  });
}

// --- unit start-up -----------------------------------------------------------------

TEST(Units, StartUpRegistersTheSlotsAndEntersTheProgramDirectory) {
  InChild([] {
    fs::path start = fs::current_path();
    fs::create_directories("install/bin");
    std::string program = (start / "install/bin/moth").string();
    rttest::StartUnits({program, "-v"});

    EXPECT_EQ(fs::current_path(), start / "install/bin");
    EXPECT_EQ(std::string(SYS_ProgramDir()->view()), (start / "install/bin").string() + "/");
    const char *home = std::getenv("HOME");
    if (home && std::string(home) != "/") {
      EXPECT_EQ(std::string(SYS_HomeDir()->view()), std::string(home) + "/");
    }

    const char *starts[] = {nullptr, "Window manager ...", "GL unit ...", "GLU unit ...", "Texture loader ..."};
    const char *stops[] = {"Release base lib ...", "Uninit window manager ...", "Uninit GL unit ...",
                           "Uninit GLU unit ...", "Uninit texture loader ..."};
    for (int slot = 0; slot < SYS_PROC_SLOTS; ++slot) {
      const SYS_TExitProcEntry *in = SYS_InitProcEntry(slot);
      const SYS_TExitProcEntry *out = SYS_ExitProcEntry(slot);
      if (slot < 5) {
        EXPECT_EQ(in->used, starts[slot] ? 1 : 0) << slot;
        if (starts[slot]) {
          EXPECT_EQ(Name(in), starts[slot]);
        }
        EXPECT_EQ(out->used, 1) << slot;
        EXPECT_EQ(Name(out), stops[slot]);
      } else {
        EXPECT_EQ(in->used, 0) << slot;
        EXPECT_EQ(out->used, 0) << slot;
      }
    }
    // The texture cache starts empty.
    for (int i : {0, 500, TEXCACHE_ENTRIES - 1}) {
      const txNode *n = TexCacheEntry(i);
      ASSERT_NE(n, nullptr);
      EXPECT_EQ(n->name.view(), "empty");
      EXPECT_EQ(n->free, 1);
      EXPECT_EQ(n->mode, 3);
    }
    // The log started in the starting directory and stays there after the move.
    SYS_WriteLn("after the move");
    auto lines = Lines(ReadFile((start / "debug.log").string()));
    EXPECT_GE(FindLine(lines, "--- brisk!quantoven application framework 0.85"), 0);
    EXPECT_GE(FindLine(lines, "after the move"), 0);
    EXPECT_FALSE(fs::exists("debug.log"));
  });
}

TEST(UnitsDeathTest, AProgramDirectoryThatCannotBeEnteredEndsTheProcess) {
  EXPECT_EXIT(rttest::StartUnits({"/nonexistent/brisk/moth"}), ::testing::ExitedWithCode(1),
              "cannot change to the program directory '/nonexistent/brisk/'");
}

}  // namespace
