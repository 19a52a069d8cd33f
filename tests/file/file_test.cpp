// The file layer: handler order, plain files, directory packs, pack archive
// entries, the error reports of failed opens, the directory search and the
// file layer's log lines.
#include <cstring>
#include <regex>

#include "fixture.h"

namespace {

using namespace filetest;

// Error reports that reach the registered callback.
struct Report {
  int code;
  std::string text;
};
std::vector<Report> g_reports;

int Record(int code, const char *text) {
  g_reports.push_back({code, text ? text : ""});
  return 0;
}

class FileLayer : public FileTest {
 protected:
  void SetUp() override {
    g_reports.clear();
    errSetCallback(Record);
  }
  void TearDown() override {
    errSetCallback(nullptr);
    FileTest::TearDown();
  }
};

TEST_F(FileLayer, DiskWinsOverDirectoryPackWinsOverArchive) {
  WriteFile("packs/tree/shared.txt", "from the directory pack");
  WriteFile("packs/tree/only-dir.txt", "dir");
  WriteFile("packs/data.pack", MakeArchive({{"shared.txt", "from the archive", true},
                                            {"only-pack.txt", "archive", false},
                                            {"on-disk.txt", "archive copy", false}})
                                   .bytes);
  WriteFile("on-disk.txt", "disk copy");
  ASSERT_EQ(SYS_FilePackOpen("packs/data.pack"), 0);
  ASSERT_EQ(SYS_FilePackOpen("packs/tree"), 0);

  EXPECT_EQ(ReadName("on-disk.txt"), "disk copy");
  EXPECT_EQ(ReadName("shared.txt"), "from the directory pack");
  EXPECT_EQ(ReadName("only-dir.txt"), "dir");
  EXPECT_EQ(ReadName("only-pack.txt"), "archive");

  // Each open carries the handler that held the name.
  const std::pair<const char *, const char *> holders[] = {{"on-disk.txt", "Regular file handler"},
                                                           {"shared.txt", "Dir pack handler"},
                                                           {"only-pack.txt", "Pack handler"}};
  for (auto [name, handler] : holders) {
    SYS_File_t *file = SYS_FileOpen(name, 0);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_STREQ(file->handler->name, handler) << name;
    EXPECT_STREQ(file->name, name);
    SYS_FileClose(file);
  }

  // Once the disk copy goes, the archive's copy is served.
  std::filesystem::remove("on-disk.txt");
  EXPECT_EQ(ReadName("on-disk.txt"), "archive copy");
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(FileLayer, DirectoryPackAnswersToNamesRelativeToItsRoot) {
  WriteFile("root/data/a/b.tga", "0123456789");
  WriteFile("root/data/top.txt", "top");
  ASSERT_EQ(SYS_FilePackOpen("root/data"), 0);

  EXPECT_EQ(SYS_FileExist("a/b.tga"), 0);
  EXPECT_EQ(SYS_FileExist("top.txt"), 0);
  EXPECT_EQ(ReadName("a/b.tga"), "0123456789");
  // Neither the path with its root, nor a name the scan never produced.
  EXPECT_EQ(SYS_FileFind("a/b.tga"), 10);
  EXPECT_EQ(SYS_FileFind("data/a/b.tga"), -1);
  EXPECT_EQ(SYS_FileFind("/a/b.tga"), -1);
  EXPECT_EQ(SYS_FileFind("a\\b.tga"), -1);
  EXPECT_EQ(SYS_FileExist("data/a/b.tga"), -1);

  // The size comes from the disk now, not from the scan.
  WriteFile("root/data/a/b.tga", "0123");
  EXPECT_EQ(SYS_FileSize("a/b.tga"), 4);

  // A second mount of the same root adds no second pack.
  ASSERT_EQ(SYS_FilePackOpen("root/data"), 0);
  const std::string log = ReadFile("debug.log");
  size_t mounts = 0;
  for (size_t at = log.find("open new pack: root/data\n"); at != std::string::npos;
       at = log.find("open new pack: root/data\n", at + 1))
    ++mounts;
  EXPECT_EQ(mounts, 1u);
}

TEST_F(FileLayer, DirectoryPackScanSurvivesALinkBackToAnAncestor) {
  WriteFile("loop/x/file.txt", "x");
  std::filesystem::create_directory_symlink("..", "loop/x/up");
  ASSERT_EQ(SYS_FilePackOpen("loop"), 0);
  EXPECT_EQ(ReadName("x/file.txt"), "x");
}

TEST_F(FileLayer, PackEntrySeekReadAndTell) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char>('A' + i % 26);
  WriteFile("p.pack", MakeArchive({{"raw.bin", hundred, false}, {"z.bin", hundred, true}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("p.pack"), 0);

  struct Step {
    int seek;
    int expect_position;
    int read;
    int expect_read;
  };
  const Step steps[] = {
      {0, 0, 10, 10},     {90, 90, 64, 10},  {100, 100, 64, 0}, {150, 99, 64, 1},
      {-1, 99, 5, 1},     {50, 50, 0, 0},    {99, 99, 1, 1},
  };
  for (const char *name : {"raw.bin", "z.bin"}) {
    SYS_File_t *file = SYS_FileOpen(name, 0);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_EQ(file->size, 100);
    char buffer[64];
    for (const Step &s : steps) {
      EXPECT_EQ(SYS_FileSeek(file, s.seek), 0);
      EXPECT_EQ(SYS_FileTell(file), s.expect_position) << name << " seek " << s.seek;
      const int got = SYS_FileRead(file, buffer, s.read);
      EXPECT_EQ(got, s.expect_read) << name << " seek " << s.seek;
      if (got > 0) {
        EXPECT_EQ(std::string(buffer, got), hundred.substr(s.expect_position, got));
      }
    }
    EXPECT_NE(SYS_FileEof(file), 0);
    SYS_FileSeek(file, 0);
    EXPECT_EQ(SYS_FileEof(file), 0);
    SYS_FileClose(file);
  }
}

TEST_F(FileLayer, LineEndsAreKeptInPacksAndRemovedOnDisk) {
  const std::string text = "one\r\ntwo\nthree";
  WriteFile("disk.txt", text);
  WriteFile("lines.pack", MakeArchive({{"packed.txt", text, false}, {"zipped.txt", text, true}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("lines.pack"), 0);

  auto lines = [](const char *name, unsigned flags) {
    std::vector<std::string> out;
    SYS_File_t *file = SYS_FileOpen(name, flags);
    if (!file) return out;
    char buffer[64];
    while (SYS_FileGetStr(file, buffer, sizeof buffer)) out.emplace_back(buffer);
    SYS_FileClose(file);
    return out;
  };
  const std::vector<std::string> kept{"one\r\n", "two\n", "three"};
  const std::vector<std::string> removed{"one", "two", "three"};
  EXPECT_EQ(lines("disk.txt", 0), removed);
  EXPECT_EQ(lines("disk.txt", SYS_FILE_TEXT), removed);
  EXPECT_EQ(lines("packed.txt", 0), kept);
  EXPECT_EQ(lines("zipped.txt", SYS_FILE_TEXT), kept);

  // A line longer than the buffer comes in pieces of size - 1.
  SYS_File_t *file = SYS_FileOpen("packed.txt", 0);
  ASSERT_NE(file, nullptr);
  char small[3];
  EXPECT_STREQ(SYS_FileGetStr(file, small, sizeof small), "on");
  EXPECT_STREQ(SYS_FileGetStr(file, small, sizeof small), "e\r");
  EXPECT_STREQ(SYS_FileGetStr(file, small, sizeof small), "\n");
  EXPECT_EQ(SYS_FileTell(file), 5);
  EXPECT_EQ(SYS_FileGetStr(file, nullptr, 10), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_FileGetStr(file, small, 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  SYS_FileClose(file);
}

TEST_F(FileLayer, OpenFilesOfOneEntryShareItsPositionAndData) {
  WriteFile("s.pack", MakeArchive({{"shared.bin", "0123456789", true}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("s.pack"), 0);
  SYS_File_t *first = SYS_FileOpen("shared.bin", 0);
  SYS_File_t *second = SYS_FileOpen("shared.bin", 0);
  ASSERT_TRUE(first && second);
  char buffer[4];
  EXPECT_EQ(SYS_FileRead(first, buffer, 4), 4);
  EXPECT_EQ(SYS_FileTell(second), 4);
  SYS_FileClose(first);
  EXPECT_EQ(SYS_FileRead(second, buffer, 4), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);
  EXPECT_EQ(SYS_FileGetStr(second, buffer, 4), nullptr);
  SYS_FileClose(second);
  // Opened again, the entry loads afresh.
  EXPECT_EQ(ReadName("shared.bin"), "0123456789");
}

TEST_F(FileLayer, EmptyEntryReadsAsEmpty) {
  WriteFile("e.pack", MakeArchive({{"empty", "", false}, {"full", "x", false}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("e.pack"), 0);
  SYS_File_t *file = SYS_FileOpen("empty", 0);
  ASSERT_NE(file, nullptr);
  char buffer[8];
  EXPECT_EQ(SYS_FileRead(file, buffer, sizeof buffer), 0);
  EXPECT_EQ(SYS_FileGetStr(file, buffer, sizeof buffer), nullptr);
  EXPECT_NE(SYS_FileEof(file), 0);
  EXPECT_EQ(SYS_FileSeek(file, 10), 0);
  EXPECT_EQ(SYS_FileTell(file), 0);
  SYS_FileClose(file);
  EXPECT_EQ(SYS_FileSize("empty"), 0);
}

TEST_F(FileLayer, PackEntriesRefuseWrites) {
  WriteFile("w.pack", MakeArchive({{"entry.txt", "read only", false}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("w.pack"), 0);
  for (unsigned flags : {unsigned(SYS_FILE_CREATE), unsigned(SYS_FILE_APPEND), unsigned(SYS_FILE_CREATE | SYS_FILE_TEXT)}) {
    g_reports.clear();
    EXPECT_EQ(SYS_FileOpen("entry.txt", flags), nullptr) << flags;
    EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].code, SYS_ERR_HANDLER);
    EXPECT_EQ(g_reports[0].text, "entry.txt");
  }
  SYS_File_t *file = SYS_FileOpen("entry.txt", 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SYS_FileWrite(file, "x", 1), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
  EXPECT_EQ(SYS_FilePutStr(file, "%d", 1), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
  SYS_FileClose(file);
  EXPECT_EQ(ReadName("entry.txt"), "read only");
}

TEST_F(FileLayer, UnknownNames) {
  EXPECT_EQ(SYS_FileSize("nowhere.bin"), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);
  EXPECT_EQ(SYS_FileExist("nowhere.bin"), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);
  EXPECT_EQ(SYS_FileOpen("nowhere.bin", 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
  ASSERT_EQ(g_reports.size(), 1u);
  EXPECT_EQ(g_reports[0].code, SYS_ERR_HANDLER);
  EXPECT_EQ(g_reports[0].text, "nowhere.bin");
  EXPECT_EQ(SYS_FindPack("nowhere.bin"), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_NOTFOUND);

  // Null arguments are refused, not followed.
  EXPECT_EQ(SYS_FileOpen(nullptr, 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_FileExist(nullptr), -1);
  EXPECT_EQ(SYS_FileSize(nullptr), -1);
  EXPECT_EQ(SYS_FileSeek(nullptr, 0), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_FileRead(nullptr, nullptr, 1), -1);
  EXPECT_EQ(SYS_FilePutStr(nullptr, "x"), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_FileClose(nullptr), 0);
}

TEST_F(FileLayer, SizeAndExistOnDisk) {
  WriteFile("sized.bin", std::string(1234, 'x'));
  std::filesystem::create_directory("folder");
  EXPECT_EQ(SYS_FileSize("sized.bin"), 1234);
  EXPECT_EQ(SYS_FileExist("sized.bin"), 0);
  EXPECT_EQ(SYS_FileExist("folder"), 0);  // a directory counts
  // A backslash is a separator, as in the show's data.
  WriteFile("sub/inner.txt", "in");
  EXPECT_EQ(SYS_FileSize("sub\\inner.txt"), 2);
  EXPECT_EQ(ReadName("sub\\inner.txt"), "in");
}

TEST_F(FileLayer, PlainFileModes) {
  struct Mode {
    unsigned flags;
    const char *write;
    const char *expect;
  };
  const Mode modes[] = {
      {SYS_FILE_CREATE, "new", "new"},               // emptied, then written
      {SYS_FILE_CREATE | SYS_FILE_TEXT, "text\n", "text\n"},
      {SYS_FILE_APPEND, "+more", "old+more"},
      {SYS_FILE_APPEND | SYS_FILE_TEXT, "+more", "old+more"},
  };
  for (const Mode &m : modes) {
    WriteFile("mode.txt", "old");
    SYS_File_t *file = SYS_FileOpen("mode.txt", m.flags);
    ASSERT_NE(file, nullptr) << m.flags;
    EXPECT_EQ(SYS_FileWrite(file, m.write, static_cast<int>(std::strlen(m.write))), 0);
    SYS_FileClose(file);
    EXPECT_EQ(ReadFile("mode.txt"), m.expect) << m.flags;
  }

  // A name no handler holds is created with the create flag, and only then.
  EXPECT_EQ(SYS_FileOpen("fresh.txt", SYS_FILE_APPEND), nullptr);
  SYS_File_t *file = SYS_FileOpen("fresh.txt", SYS_FILE_CREATE);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(SYS_FilePutStr(file, "%s=%d\n", "value", 42), 0);
  EXPECT_EQ(SYS_FilePutStr(file, "%s", std::string(5000, 'y').c_str()), 0);
  SYS_FileClose(file);
  const std::string written = ReadFile("fresh.txt");
  EXPECT_EQ(written.substr(0, 9), "value=42\n");
  EXPECT_EQ(written.size(), 9u + 2047u);  // one text is cut to 2047 characters

  // Reading a plain file: the size at open, reads, seeks and the end.
  file = SYS_FileOpen("fresh.txt", 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size, static_cast<int32_t>(written.size()));
  char buffer[8] = {};
  EXPECT_EQ(SYS_FileSeek(file, 6), 0);
  EXPECT_EQ(SYS_FileRead(file, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "42");
  EXPECT_EQ(SYS_FileTell(file), 8);
  EXPECT_EQ(SYS_FileEof(file), 0);
  SYS_FileSeek(file, static_cast<int>(written.size()));
  EXPECT_EQ(SYS_FileRead(file, buffer, sizeof buffer), 0);
  EXPECT_NE(SYS_FileEof(file), 0);
  SYS_FileClose(file);
}

TEST_F(FileLayer, FailedPlainOpenIsReportedWithItsName) {
  std::filesystem::create_directory("a-directory");
  EXPECT_EQ(SYS_FileOpen("a-directory", SYS_FILE_CREATE), nullptr);
  ASSERT_EQ(g_reports.size(), 1u);
  EXPECT_EQ(g_reports[0].text, "a-directory");
  // The system's refusal leaves no code of its own.
  EXPECT_EQ(g_reports[0].code, 0);
  EXPECT_EQ(SYS_FileOpen("missing-dir/new.txt", SYS_FILE_CREATE), nullptr);
  ASSERT_EQ(g_reports.size(), 2u);
  EXPECT_EQ(g_reports[1].text, "missing-dir/new.txt");
}

TEST_F(FileLayer, MountingSomethingElseFails) {
  WriteFile("plain.txt", "this is no archive at all");
  WriteFile("short.bin", "BRKP");
  struct Case {
    const char *path;
    int inner;  // the archive handler's own code
  };
  const Case cases[] = {{"plain.txt", SYS_ERR_MAGIC}, {"short.bin", SYS_ERR_MAGIC}, {"missing.pack", SYS_ERR_NOTFOUND}};
  for (const Case &c : cases) {
    EXPECT_EQ(SYS_FilePackOpen(c.path), -1) << c.path;
    EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER) << c.path;
    EXPECT_EQ(SYS_FilePackOpen_pack(c.path), -1) << c.path;
    EXPECT_EQ(errGetLastError(), c.inner) << c.path;
  }
  EXPECT_EQ(SYS_FilePackOpen(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_HANDLER);
  EXPECT_EQ(SYS_FilePackOpen_pack(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_PackGetList(), nullptr);
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(FileLayer, FindPackAndOpenByIndex) {
  WriteFile("one.pack", MakeArchive({{"a", "1", false}, {"both", "old", false}}).bytes);
  WriteFile("two.pack", MakeArchive({{"both", "new", true}, {"b", "2", false}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("one.pack"), 0);
  ASSERT_EQ(SYS_FilePackOpen("two.pack"), 0);
  SYS_Pack_t *newest = SYS_FindPack("both");
  ASSERT_NE(newest, nullptr);
  EXPECT_STREQ(newest->path, "two.pack");
  EXPECT_STREQ(SYS_FindPack("a")->path, "one.pack");
  EXPECT_EQ(ReadName("both"), "new");  // the newest mount wins
  ASSERT_NE(SYS_PackGetList(), nullptr);
  EXPECT_EQ(SYS_PackGetList()->data, newest);

  SYS_Pack_t *older = SYS_FindPack("a");
  SYS_File_t *file = SYS_PackOpenEntry(older, 1);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ReadAll(file), "old");  // by index, the hidden entry is reachable
  SYS_FileClose(file);
  EXPECT_EQ(SYS_PackOpenEntry(older, 2), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_PackOpenEntry(older, -1), nullptr);
  SYS_Pack_t stranger{};
  EXPECT_EQ(SYS_PackOpenEntry(&stranger, 0), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

TEST_F(FileLayer, ShutdownUnmountsAndReleasesEverything) {
  const Live before = LiveMemory();
  const int descriptors = OpenDescriptors();
  WriteFile("tree/x.txt", "x");
  WriteFile("m.pack", MakeArchive({{"m.txt", std::string(5000, 'm'), true}}).bytes);
  ASSERT_EQ(SYS_FilePackOpen("m.pack"), 0);
  ASSERT_EQ(SYS_FilePackOpen("tree"), 0);
  SYS_File_t *file = SYS_FileOpen("m.txt", 0);
  ASSERT_NE(file, nullptr);
  SYS_FileClose(file);  // the entry's data go with the close
  EXPECT_GT(LiveMemory().bytes, before.bytes);
  brisk::base::FileShutdown();
  EXPECT_EQ(SYS_PackGetList(), nullptr);
  EXPECT_EQ(SYS_FileExist("m.txt"), -1);
  EXPECT_EQ(SYS_FileExist("x.txt"), -1);
  const Live after = LiveMemory();
  EXPECT_EQ(after.bytes, before.bytes) << after.report;
  EXPECT_EQ(after.blocks, before.blocks) << after.report;
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(FileLayer, GlobListsMatchesSorted) {
  WriteFile("g/b.txt", "");
  WriteFile("g/a.txt", "");
  WriteFile("g/c.bin", "");
  WriteFile("g/.hidden.txt", "");
  std::filesystem::create_directory("g/sub.txt");
  struct Case {
    const char *pattern;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"g/*.txt", {"g/.hidden.txt", "g/a.txt", "g/b.txt", "g/sub.txt"}},
      {"g\\*.bin", {"g/c.bin"}},
      {"g/?.txt", {"g/a.txt", "g/b.txt"}},
      {"g/a.txt", {"g/a.txt"}},
      {"g/*", {"g/.hidden.txt", "g/a.txt", "g/b.txt", "g/c.bin", "g/sub.txt"}},
      {"g/.*", {"g/.hidden.txt"}},  // "." and ".." match, but are left out
      {"g/*.none", {}},
      {"nowhere/*", {}},
  };
  for (const Case &c : cases) {
    SYS_Glob_t *glob = nullptr;
    ASSERT_EQ(SYS_Glob(c.pattern, &glob), 0) << c.pattern;
    ASSERT_NE(glob, nullptr);
    std::vector<std::string> names;
    for (int i = 0; i < glob->count; ++i) names.emplace_back(glob->names[i]);
    EXPECT_EQ(names, c.names) << c.pattern;
    EXPECT_EQ(SYS_GlobFree(&glob), 0);
    EXPECT_EQ(glob, nullptr);
  }
  WriteFile("top-level.glob", "");
  SYS_Glob_t *glob = nullptr;
  ASSERT_EQ(SYS_Glob("*.glob", &glob), 0);
  ASSERT_EQ(glob->count, 1);
  EXPECT_STREQ(glob->names[0], "top-level.glob");  // no directory part, no base
  SYS_GlobFree(&glob);

  glob = reinterpret_cast<SYS_Glob_t *>(0x1);
  EXPECT_EQ(SYS_Glob("", &glob), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(glob, nullptr);
  EXPECT_EQ(SYS_Glob(nullptr, &glob), -1);
  EXPECT_EQ(SYS_Glob("*", nullptr), -1);
  EXPECT_EQ(SYS_GlobFree(nullptr), -1);
  EXPECT_EQ(SYS_GlobFree(&glob), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

TEST_F(FileLayer, LogLinesWithDebugFile) {
  WriteFile("logged.pack", MakeArchive({{"in-pack.txt", "p", false}}).bytes);
  WriteFile("on\\disk.txt", "");  // a real backslash in a name: opened as on/disk.txt
  WriteFile("on/disk.txt", "d");
  ASSERT_EQ(SYS_FilePackOpen("logged.pack"), 0);
  EXPECT_EQ(ReadName("on\\disk.txt"), "d");
  SYS_Glob_t *glob = nullptr;
  SYS_Glob("nothing-here/*", &glob);
  SYS_GlobFree(&glob);
  const std::string log = ReadFile("debug.log");
  const char *expected[] = {
      R"(\[file\]\[file\.cpp:\d+:SYS_FileOpen\(\)\] opening logged\.pack\.\.\.)",
      R"(\[file-regularfile\]\[file_regularfile\.cpp:\d+:SYS_FileOpen_reg\(\)\] \[SYS_FileOpen_reg\] open : logged\.pack -> logged\.pack)",
      R"(\[file-pack\]\[file_pack\.cpp:\d+:SYS_FilePackOpen_pack\(\)\] logged\.pack\n)",
      R"(\[file-pack\]\[file_pack\.cpp:\d+:SYS_FilePackOpen_pack\(\)\]  - number of entries: 1\n)",
      R"(\[file-pack\]\[file_pack\.cpp:\d+:SYS_FilePackOpen_pack\(\)\]  - catalog's offset: 13\n)",
      R"(\]  - files:\n)",
      R"(\]     - in-pack\.txt\n)",
      R"(\[file-regularfile\]\[[^\]]+\] \[SYS_FileOpen_reg\] open : on\\disk\.txt -> on/disk\.txt\n)",
      R"(\[file\]\[file\.cpp:\d+:SYS_Glob\(\)\] \[glob\] filter: nothing-here/\*\n)",
      R"(\[file\]\[[^\]]+\] \[glob\] !!! FindFirstFile returned with NULL\.\n)",
  };
  for (const char *pattern : expected) EXPECT_TRUE(std::regex_search(log, std::regex(pattern))) << pattern;
}

}  // namespace
