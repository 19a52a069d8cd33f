// The tracked allocator: zero-filled blocks with their origin, the report of
// live blocks, reallocation, and the release checks (double release, foreign
// pointers, overwritten guards) that must report instead of crashing.
#include <cstdint>
#include <cstring>
#include <thread>

#include "child.h"

namespace {

using namespace basetest;

constexpr size_t kHeader = 56;  // guard, size, two links, 32 characters of info

std::string Hex(const void *p) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

const void *HeaderOf(const void *user) { return static_cast<const char *>(user) - kHeader; }

// The report written by SYS_MemInfo, checked for its frame; returns the part
// after the "started" line and the empty line that follows it.
std::string ReportBody(const char *path = "report.txt") {
  EXPECT_EQ(SYS_MemInfo(path), 0);
  const std::string text = ReadFile(path);
  std::smatch m;
  const std::regex frame(std::string("\n--- brisk!quantoven memory manager\n--- started : ") + kStamp + "\n\n");
  EXPECT_TRUE(std::regex_search(text, m, frame, std::regex_constants::match_continuous)) << text;
  return m.empty() ? text : text.substr(m.length(0));
}

std::string Info(int line, const std::string &tag) {
  return ("[mem_test.cpp:" + std::to_string(line) + "] " + tag).substr(0, 31);
}

class Mem : public Scratch {};

TEST_F(Mem, ReportOfNoBlocks) {
  InChild([] {
    void *none = SYS_MemGet(0, "nothing");
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ReportBody(), "No memory allocated.\n\n\nTotal: 0 bytes\n---\n");
  });
}

TEST_F(Mem, ReportOfTwoBlocksNewestFirst) {
  InChild([] {
    void *a = SYS_MemGet(10, "first block"); const int line_a = __LINE__;
    void *b = SYS_MemGet(20, "second block"); const int line_b = __LINE__;
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n" + Info(line_b, "second block") + " -> 20 bytes\n" +
                                Info(line_a, "first block") + " -> 10 bytes\n\n\nTotal: 30 bytes\n---\n");
    SYS_MemFree(a);
    SYS_MemFree(b);
    EXPECT_EQ(ReportBody(), "No memory allocated.\n\n\nTotal: 0 bytes\n---\n");
  });
}

TEST_F(Mem, ReportFileThatCannotBeCreated) {
  InChild([] {
    EXPECT_EQ(SYS_MemInfo("no/such/dir/report.txt"), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_CREATE);
  });
}

TEST_F(Mem, BlocksAreZeroFilledAndReleaseClearsThePointer) {
  InChild([] {
    auto *p = static_cast<unsigned char *>(SYS_MemGet(1000, "zeroed"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(SYS_MemSize(p), 1000);
    std::memset(p, 0xAB, 1000);
    EXPECT_EQ(SYS_MemFree(p), 0);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(SYS_MemFree(p), 0);  // the same variable again: nothing happens
    EXPECT_EQ(_SYS_MemFree(nullptr, "here", 1), 0);
    EXPECT_EQ(ReportBody(), "No memory allocated.\n\n\nTotal: 0 bytes\n---\n");
  });
}

TEST_F(Mem, SizeOfNull) {
  InChild([] {
    errSetLastError(3);
    EXPECT_EQ(SYS_MemSize(nullptr), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  });
}

TEST_F(Mem, LongTagIsCutInTheInfoField) {
  InChild([] {
    const char *tag = "a tag far too long for the info field of the header";
    void *p = _SYS_MemGet(8, "some_source_file.cpp", 12345, tag);
    void *q = _SYS_MemGet(8, nullptr, -7, nullptr);
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n[(null):-7] (null) -> 8 bytes\n"
                            "[some_source_file.cpp:12345] a  -> 8 bytes\n\n\nTotal: 16 bytes\n---\n");
    SYS_MemFree(p);
    SYS_MemFree(q);
  });
}

TEST_F(Mem, StrDupCopiesAndTagsTheText) {
  InChild([] {
    EXPECT_EQ(SYS_StrDup(nullptr), nullptr);
    char *s = SYS_StrDup("hello"); const int line = __LINE__;
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(SYS_MemSize(s), 6);
    const std::string long_text(300, 'q');
    char *t = SYS_StrDup(long_text.c_str()); const int line_t = __LINE__;
    EXPECT_EQ(t, long_text);
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n" + Info(line_t, "StrDup: " + long_text) + " -> 301 bytes\n" +
                                Info(line, "StrDup: hello") + " -> 6 bytes\n\n\nTotal: 307 bytes\n---\n");
    SYS_MemFree(s);
    SYS_MemFree(t);
  });
}

TEST_F(Mem, ReallocShrinkAndGrow) {
  InChild([] {
    auto *p = static_cast<unsigned char *>(SYS_MemGet(100, "original"));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) p[i] = static_cast<unsigned char>(i + 1);
    unsigned char *old = p;
    void *other = SYS_MemGet(4, "other"); const int line_other = __LINE__;

    ASSERT_NE(SYS_MemRealloc(p, 10, "shrunk"), nullptr); const int line_shrink = __LINE__;
    EXPECT_NE(p, old);
    EXPECT_EQ(SYS_MemSize(p), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], i + 1);
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n" + Info(line_shrink, "shrunk") + " -> 10 bytes\n" +
                                Info(line_other, "other") + " -> 4 bytes\n\n\nTotal: 14 bytes\n---\n");

    ASSERT_NE(SYS_MemRealloc(p, 100, "grown"), nullptr); const int line_grow = __LINE__;
    EXPECT_EQ(SYS_MemSize(p), 100);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], i + 1);
    for (int i = 10; i < 100; ++i) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n" + Info(line_grow, "grown") + " -> 100 bytes\n" +
                                Info(line_other, "other") + " -> 4 bytes\n\n\nTotal: 104 bytes\n---\n");

    // Size 0 releases; a null pointer allocates.
    EXPECT_EQ(SYS_MemRealloc(p, 0, "gone"), nullptr);
    EXPECT_EQ(p, nullptr);
    EXPECT_NE(SYS_MemRealloc(p, 8, "fresh"), nullptr); const int line_fresh = __LINE__;
    EXPECT_EQ(SYS_MemSize(p), 8);
    EXPECT_EQ(ReportBody(), "Unreleased memory:\n\n" + Info(line_fresh, "fresh") + " -> 8 bytes\n" +
                                Info(line_other, "other") + " -> 4 bytes\n\n\nTotal: 12 bytes\n---\n");
    EXPECT_EQ(_SYS_MemRealloc(nullptr, 8, "x", 1, "y"), nullptr);
    SYS_MemFree(p);
    SYS_MemFree(other);
  });
}

// --- release checks ----------------------------------------------------------

// The corruption report as the log shows it.
std::string Corruption(const void *header, uint32_t data, int line, const std::string &info) {
  char text[512];
  std::snprintf(text, sizeof text,
                "\n!!! Already released or corrupted memory area: %s\n!!!  - data: 0x%08x\n"
                "!!!  - SYS_MemFree position: [mem_test.cpp:%d]\n!!!  - SYS_MemGet info: '%s'\n\n",
                Hex(header).c_str(), data, line, info.c_str());
  return text;
}

TEST_F(Mem, DoubleReleaseThroughACopyIsReported) {
  InChild([] {
    StartBase({"prog", "-v"});
    void *keep = SYS_MemGet(24, "kept");
    void *p = SYS_MemGet(16, "victim");
    void *copy = p;
    SYS_MemFree(p);
    SYS_MemFree(copy); const int line = __LINE__;
    EXPECT_NE(copy, nullptr);  // a failed release leaves the caller's pointer alone
    EXPECT_EQ(SYS_MemSize(keep), 24);
    const std::string log = ReadFile("debug.log");
    EXPECT_NE(log.find(Corruption(HeaderOf(copy), 0, line, "(not a block of this allocator)")), std::string::npos)
        << log;
    SYS_MemFree(keep);
    SYS_BaseDone();
  });
}

TEST_F(Mem, ForeignPointersAreReportedAndLeftAlone) {
  InChild([] {
    StartBase({"prog", "-v"});
    static char global_area[256];
    void *from_malloc = std::malloc(128);
    auto *tracked = static_cast<char *>(SYS_MemGet(64, "tracked"));
    struct Foreign {
      const char *label;
      void *pointer;
    } foreign[] = {
        {"global array", global_area + 128},
        {"plain malloc block", from_malloc},
        {"inside a tracked block", tracked + 16},
    };
    std::string log_before = ReadFile("debug.log");
    for (const auto &f : foreign) {
      SCOPED_TRACE(f.label);
      void *p = f.pointer;
      SYS_MemFree(p); const int line = __LINE__;
      EXPECT_EQ(p, f.pointer);
      void *r = p;
      EXPECT_EQ(SYS_MemRealloc(r, 300, "grow"), nullptr); const int line_realloc = __LINE__;
      EXPECT_EQ(r, f.pointer);
      const std::string log = ReadFile("debug.log").substr(log_before.size());
      EXPECT_EQ(log, Corruption(HeaderOf(p), 0, line, "(not a block of this allocator)") +
                         Corruption(HeaderOf(p), 0, line_realloc, "(not a block of this allocator)"));
      log_before = ReadFile("debug.log");
    }
    EXPECT_EQ(SYS_MemSize(tracked), 64);
    EXPECT_EQ(SYS_MemSize(from_malloc), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
    SYS_MemFree(tracked);
    std::free(from_malloc);
    SYS_BaseDone();
  });
}

TEST_F(Mem, OverwrittenGuardIsReportedAndTheBlockKept) {
  InChild([] {
    StartBase({"prog", "-v"});
    void *p = SYS_MemGet(32, "underrun"); const int line_get = __LINE__;
    uint32_t guard;
    std::memcpy(&guard, HeaderOf(p), sizeof guard);
    EXPECT_EQ(guard, 0x62726B21u);
    const uint32_t smashed = 0xDEADBEEF;
    std::memcpy(const_cast<void *>(HeaderOf(p)), &smashed, sizeof smashed);
    void *copy = p;
    SYS_MemFree(p); const int line = __LINE__;
    EXPECT_EQ(p, copy);
    EXPECT_NE(ReadFile("debug.log").find(Corruption(HeaderOf(p), smashed, line, Info(line_get, "underrun"))),
              std::string::npos)
        << ReadFile("debug.log");
    EXPECT_EQ(ReportBody().rfind("Unreleased memory:\n\n" + Info(line_get, "underrun") + " -> 32 bytes\n", 0), 0u);
    // The guard put back, the block releases normally.
    std::memcpy(const_cast<void *>(HeaderOf(p)), &guard, sizeof guard);
    SYS_MemFree(p);
    EXPECT_EQ(p, nullptr);
    SYS_BaseDone();
  });
}

TEST_F(Mem, BadReleaseIsFatalWithDebugDfree) {
  EXPECT_EXIT(
      {
        setenv("BRISK_BATCH", "1", 1);
        StartBase({"prog", "-v", "-debug-dfree"});
        void *p = SYS_MemGet(8, "twice");
        void *copy = p;
        SYS_MemFree(p);
        SYS_MemFree(copy);
        std::fprintf(stderr, "still running\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "error\\.\\.\\.: Memory handler already released, or corrupted\\.");
  EXPECT_NE(ReadFile("debug.log").find("!!! Already released or corrupted memory area: "), std::string::npos);
}

// --- switches and shutdown ---------------------------------------------------

TEST_F(Mem, LeakReportAtShutdownNamesTheBlocksAndTheReportName) {
  InChild([] {
    StartBase({"prog", "-debug-memleak", "-mf", "leaks.txt"});
    void *leak = SYS_MemGet(40, "forgotten"); const int line = __LINE__;
    (void)leak;
    SYS_BaseDone();
    const std::string text = ReadFile("leaks.txt");
    const std::regex expected(std::string("\n--- brisk!quantoven memory manager\n--- started : ") + kStamp +
                              "\n\nUnreleased memory:\n\n" + Quote(Info(line, "forgotten")) +
                              " -> 40 bytes\n\\[mem\\.cpp:[0-9]+\\] StrDup: leaks\\.txt -> 10 bytes\n\n\n"
                              "Total: 50 bytes\n---\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    // The sweep released everything.
    EXPECT_EQ(ReportBody("after.txt"), "No memory allocated.\n\n\nTotal: 0 bytes\n---\n");
  });
}

TEST_F(Mem, LeakReportDefaultNameAndNoReportWithoutTheSwitch) {
  InChild([] {
    StartBase({"prog", "-debug-memleak", "-mf"});  // a name missing counts as absent
    SYS_BaseDone();
    EXPECT_TRUE(Exists("debug.memleaks"));
    EXPECT_NE(ReadFile("debug.memleaks").find("No memory allocated.\n"), std::string::npos);
  });
  std::filesystem::remove("debug.memleaks");
  InChild([] {
    StartBase({"prog", "-v", "-mf", "named.txt"});
    SYS_MemGet(4, "leak");
    SYS_BaseDone();
  });
  EXPECT_FALSE(Exists("debug.memleaks"));
  EXPECT_FALSE(Exists("named.txt"));
}

// One line per allocation with -debug-memalloc, also with time stamps (the
// stamp of a line must not itself log an allocation).
TEST_F(Mem, AllocationLinesWithDebugMemalloc) {
  for (bool stamps : {false, true}) {
    SCOPED_TRACE(stamps ? "with stamps" : "without stamps");
    std::filesystem::remove("debug.log");
    InChild([&] {
      std::vector<std::string> args{"prog", "-v", "-debug-memalloc"};
      if (stamps) args.push_back("-debug-ts");
      StartBase(args);
      void *p = SYS_MemGet(12, "probe");
      void *q = nullptr;
      SYS_MemRealloc(q, 5, "again");
      const std::string prefix = (stamps ? std::string(kStamp) + " " : "") + "\\[mem\\]\\[mem\\.cpp:[0-9]+:_SYS_MemGet\\(\\)\\]  - allocated: ";
      const std::string log = ReadFile("debug.log");
      EXPECT_TRUE(std::regex_search(log, std::regex(prefix + Quote(Hex(HeaderOf(p))) + " 'probe'\n"))) << log;
      EXPECT_TRUE(std::regex_search(log, std::regex(prefix + Quote(Hex(HeaderOf(q))) + " 'again'\n"))) << log;
      SYS_MemFree(p);
      SYS_MemFree(q);
      SYS_BaseDone();
    });
  }
}

TEST_F(Mem, DumpWritesTheDataToAFileNamedByTheInfo) {
  InChild([] {
    auto *p = static_cast<char *>(SYS_MemGet(5, "dumped")); const int line = __LINE__;
    std::memcpy(p, "ab\0cd", 5);
    EXPECT_EQ(SYS_MemDump(p), 0);
    EXPECT_EQ(ReadFile(Info(line, "dumped") + ".memdump"), std::string("ab\0cd", 5));
    EXPECT_EQ(SYS_MemDump(nullptr), -1);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
    SYS_MemFree(p);
  });
}

TEST_F(Mem, TwoThreadsAllocatingAtOnceKeepTheListWhole) {
  InChild([] {
    void *before = SYS_MemGet(8, "before");
    auto work = [](int seed) {
      std::vector<void *> held(64, nullptr);
      for (int i = 0; i < 20000; ++i) {
        void *&slot = held[static_cast<size_t>((i * 7 + seed) % 64)];
        if (slot) SYS_MemFree(slot);
        else slot = SYS_MemGet(16 + i % 200, "worker");
      }
      for (void *&p : held) SYS_MemFree(p);
    };
    std::thread a(work, 1), b(work, 2);
    a.join();
    b.join();
    EXPECT_EQ(SYS_MemSize(before), 8);
    EXPECT_NE(ReportBody().find("Total: 8 bytes\n"), std::string::npos);
    SYS_MemFree(before);
  });
}

}  // namespace
