// Dynamic modules: the Modules/ candidate, the module list, dllInit with the
// base symbol table, and the error codes, with a real plug-in built beside
// the tests (PROBE_MODULE) and real system libraries.
#include <dlfcn.h>

#include <cstring>
#include <regex>

#include "base/dl.h"
#include "base/dl_internal.h"
#include "base/file.h"
#include "base/info.h"
#include "base/zblock.h"
#include "session.h"

namespace {

namespace fs = std::filesystem;
using sysinfo_test::BaseSession;
using sysinfo_test::Log;
using sysinfo_test::ScratchTest;

template <typename F>
F Sym(void *handle, const char *name) {
  return reinterpret_cast<F>(SYS_DlGetProc(handle, name));
}

// A "[dl][dl.cpp:N:function()] text" line.
bool HasDlLine(const std::string &log, const std::string &function, const std::string &text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  const std::string escaped = std::regex_replace(text, special, R"(\$&)");
  return std::regex_search(log, std::regex(R"(\[dl\]\[dl\.cpp:\d+:)" + function + R"(\(\)\] )" + escaped));
}

std::vector<std::string> ListNames() {
  std::vector<std::string> names;
  for (TModule *m = SYS_DlGetList(); m; m = m->next) names.push_back(m->name);
  return names;
}

// Every test runs with the module lines on, in a scratch directory that can
// hold a Modules/ folder.
class DlTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    run_ = std::make_unique<BaseSession>(std::vector<std::string>{"-v", "-debug-dl", "-debug-dlsymbols"});
  }
  void TearDown() override {
    run_.reset();
    ScratchTest::TearDown();
  }
  // Copies the test plug-in to path (relative to the scratch directory).
  static void PlaceProbe(const fs::path &path) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    fs::copy_file(PROBE_MODULE, path, fs::copy_options::overwrite_existing);
  }

  std::unique_ptr<BaseSession> run_;
};

TEST_F(DlTest, ModuleUnderModulesIsFoundFirstAndGetsTheBaseLookup) {
  PlaceProbe("Modules/probe-linux.so");
  void *h = SYS_DlOpen("probe");
  ASSERT_NE(h, nullptr) << Log();
  EXPECT_EQ(errGetLastError(), 0);

  // dllInit ran once and was handed SYS_BaseGetProc itself.
  EXPECT_EQ(Sym<int (*)()>(h, "probe_init_calls")(), 1);
  EXPECT_EQ(reinterpret_cast<void *>(Sym<SYS_BaseGetProc_t (*)()>(h, "probe_get_proc")()),
            reinterpret_cast<void *>(&SYS_BaseGetProc));
  // The plug-in's errGetLastError is the framework's: it returns and clears our code.
  auto plugin_last_error = Sym<int (*)()>(h, "probe_last_error");
  ASSERT_NE(plugin_last_error, nullptr);
  errSetLastError(42);
  EXPECT_EQ(plugin_last_error(), 42);
  EXPECT_EQ(errGetLastError(), 0);

  EXPECT_EQ(ListNames(), std::vector<std::string>{"probe"});
  EXPECT_EQ(SYS_DlGetList()->handle, h);

  const std::string log = Log();
  EXPECT_TRUE(HasDlLine(log, "SYS_DlOpen", "Load lib: Modules/probe-linux.so\n")) << log;
  EXPECT_EQ(log.find("failed,  try"), std::string::npos) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\[dl\]\[dl\.cpp:\d+:SYS_DlOpen\(\)\] address: 0x[0-9a-f]{8,}\n)"))) << log;
  EXPECT_EQ(log.find("symbol not found: dllInit"), std::string::npos) << log;

  EXPECT_EQ(SYS_DlClose(h), 0);
  EXPECT_TRUE(ListNames().empty());
  EXPECT_TRUE(HasDlLine(Log(), "SYS_DlClose", "release: probe\n"));
}

TEST_F(DlTest, SameNameTwiceLoadsOnce) {
  PlaceProbe("Modules/probe-linux.so");
  void *first = SYS_DlOpen("probe");
  ASSERT_NE(first, nullptr);
  void *second = SYS_DlOpen("probe");
  EXPECT_EQ(second, first);
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_EQ(Sym<int (*)()>(first, "probe_init_calls")(), 1) << "no second dllInit";
  EXPECT_EQ(ListNames(), std::vector<std::string>{"probe"});
  EXPECT_TRUE(HasDlLine(Log(), "SYS_DlOpen", "preloaded module: probe\n"));
  // The list compares names exactly.
  EXPECT_EQ(SYS_DlOpen("Probe"), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_DL_NOTFOUND);
  EXPECT_EQ(SYS_DlClose(first), 0);
}

// When both the Modules/ candidate and the name itself would load, the
// Modules/ file wins and the name is never tried.
TEST_F(DlTest, ModulesCandidateWinsOverTheName) {
  PlaceProbe("Modules/probe.so-linux.so");
  PlaceProbe("probe.so");
  void *h = SYS_DlOpen("./probe.so");
  ASSERT_NE(h, nullptr) << Log();
  void *modules_copy = dlopen("Modules/probe.so-linux.so", RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(modules_copy, h);
  if (modules_copy) dlclose(modules_copy);
  EXPECT_EQ(dlopen("./probe.so", RTLD_NOW | RTLD_NOLOAD), nullptr) << "the plain name was loaded too";
  const std::string log = Log();
  EXPECT_TRUE(HasDlLine(log, "SYS_DlOpen", "Load lib: Modules/./probe.so-linux.so\n")) << log;
  EXPECT_EQ(log.find("failed,  try"), std::string::npos) << log;
  EXPECT_EQ(SYS_DlClose(h), 0);
}

// A system library has no Modules/ file: the first try fails, the name loads.
TEST_F(DlTest, FallsBackToTheNameItself) {
  void *h = SYS_DlOpen("libm.so.6");
  ASSERT_NE(h, nullptr) << Log();
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_NE(SYS_DlGetProc(h, "cos"), nullptr);
  const std::string log = Log();
  const auto first = log.find("Load lib: Modules/libm.so.6-linux.so\n");
  const auto second = log.find("failed,  try libm.so.6.\n");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_LT(first, second);
  // No dllInit in libm: with -debug-dlsymbols the miss is logged by the lookup.
  EXPECT_TRUE(HasDlLine(log, "SYS_DlGetProc", "symbol not found: dllInit (")) << log;
  EXPECT_EQ(SYS_DlClose(h), 0);
}

// A name that already carries the platform suffix is its own first candidate.
TEST_F(DlTest, NameWithPlatformSuffixIsTakenAsItIs) {
  PlaceProbe("plugins/extra-linux.so");
  const std::string path = (fs::current_path() / "plugins/extra-linux.so").string();
  void *h = SYS_DlOpen(path.c_str());
  ASSERT_NE(h, nullptr) << Log();
  const std::string log = Log();
  EXPECT_TRUE(HasDlLine(log, "SYS_DlOpen", "Load lib: " + path + "\n")) << log;
  EXPECT_EQ(log.find("failed,  try"), std::string::npos) << log;
  EXPECT_EQ(SYS_DlClose(h), 0);
}

TEST_F(DlTest, LoadFailuresSetTheirCodes) {
  std::ofstream("notalib.so") << "plain text, not a library\n";
  fs::create_directories("adir.so");
  struct Case {
    const char *name;
    int code;
    std::string tail;  // what follows "error: " on the same line
  };
  const Case cases[] = {
      {"no-such-module", SYS_ERR_DL_NOTFOUND, "lib (no-such-module) not found.\n"},
      {"./missing/thing.so", SYS_ERR_DL_NOTFOUND, "lib (./missing/thing.so) not found.\n"},
      // Present but not loadable: no system error behind an invalid file.
      {"./notalib.so", SYS_ERR_DL_LOAD, "unknown error (0)\n"},
      {"./adir.so", SYS_ERR_DL_LOAD, "unknown error (21)\n"},  // EISDIR
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    errSetLastError(7);
    EXPECT_EQ(SYS_DlOpen(c.name), nullptr);
    EXPECT_EQ(errGetLastError(), c.code);
    EXPECT_TRUE(HasDlLine(Log(), "SYS_DlOpen", "error: " + c.tail)) << Log();
  }
  EXPECT_TRUE(ListNames().empty());
}

// A module file that is there but broken, while the plain name is missing,
// is reported by the last try.
TEST_F(DlTest, BrokenModulesFileThenMissingName) {
  fs::create_directories("Modules");
  std::ofstream("Modules/broken-linux.so") << "junk";
  EXPECT_EQ(SYS_DlOpen("broken"), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_DL_NOTFOUND);
}

TEST_F(DlTest, BadArguments) {
  EXPECT_EQ(SYS_DlOpen(nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_DlGetProc(nullptr, "cos"), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_DL_HANDLE);
  EXPECT_EQ(SYS_DlClose(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_DL_HANDLE);

  void *self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(SYS_DlGetProc(self, nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_DlAddLib(nullptr, "x"), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_DlAddLib(self, nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_TRUE(ListNames().empty());
  dlclose(self);
}

TEST_F(DlTest, MissingSymbolIsNullWithoutErrorCode) {
  void *h = SYS_DlOpen("libm.so.6");
  ASSERT_NE(h, nullptr);
  errSetLastError(7);
  EXPECT_EQ(SYS_DlGetProc(h, "no_such_symbol_here"), nullptr);
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_TRUE(HasDlLine(Log(), "SYS_DlGetProc", "symbol not found: no_such_symbol_here (0)\n")) << Log();
  EXPECT_EQ(SYS_DlClose(h), 0);
}

// A registered module is found by its name without loading anything.
TEST_F(DlTest, AddLibRegistersAnAlreadyLoadedModule) {
  void *self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(SYS_DlAddLib(self, "Host"), 0);
  EXPECT_EQ(SYS_DlOpen("Host"), self);
  EXPECT_TRUE(HasDlLine(Log(), "SYS_DlOpen", "preloaded module: Host\n"));
  EXPECT_EQ(Log().find("Load lib: Modules/Host-linux.so"), std::string::npos);
  EXPECT_EQ(SYS_DlClose(self), 0);  // drops our dlopen reference to the program
  EXPECT_TRUE(ListNames().empty());
}

// The list is newest first; closing walks it from the head, logging every
// module it passes, and unlinks only the matching one.
TEST_F(DlTest, CloseWalksTheListFromTheHead) {
  PlaceProbe("Modules/probe-linux.so");
  void *probe = SYS_DlOpen("probe");
  void *libm = SYS_DlOpen("libm.so.6");
  ASSERT_NE(probe, nullptr);
  ASSERT_NE(libm, nullptr);
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"libm.so.6", "probe"}));
  EXPECT_EQ(SYS_DlClose(probe), 0);
  const std::string log = Log();
  const auto passed = log.find("release: libm.so.6\n");
  const auto matched = log.find("release: probe\n");
  ASSERT_NE(passed, std::string::npos) << log;
  ASSERT_NE(matched, std::string::npos) << log;
  EXPECT_LT(passed, matched);
  EXPECT_EQ(ListNames(), std::vector<std::string>{"libm.so.6"});
  EXPECT_EQ(SYS_DlClose(libm), 0);
  EXPECT_TRUE(ListNames().empty());
}

// A handle that was never registered is still unloaded.
TEST_F(DlTest, CloseUnloadsAnUnregisteredHandle) {
  PlaceProbe("loose.so");
  const std::string path = (fs::current_path() / "loose.so").string();
  void *h = dlopen(path.c_str(), RTLD_NOW);
  ASSERT_NE(h, nullptr) << dlerror();
  EXPECT_EQ(SYS_DlClose(h), 0);
  EXPECT_EQ(errGetLastError(), 0);
  EXPECT_EQ(dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
}

// SYS_BaseInit registers the program's own module as "Base" when given one;
// shutdown forgets the list (but unloads nothing).
TEST(DlBaseTest, BaseInitRegistersTheProgramAsBase) {
  void *self = dlopen(nullptr, RTLD_NOW);
  ASSERT_NE(self, nullptr);
  {
    BaseSession run({}, self);
    EXPECT_EQ(ListNames(), std::vector<std::string>{"Base"});
    EXPECT_EQ(SYS_DlOpen("Base"), self);
  }
  {
    BaseSession run({});
    EXPECT_TRUE(ListNames().empty());
  }
  dlclose(self);
}

// The symbol table: 98 names in their order, each resolving to the function
// of that name where this build has it.
TEST(DlBaseTest, BaseSymbolTable) {
  // Functions of modules this build does not have yet are null.
  struct Entry {
    const char *name;
    void *function;
  };
#define FN(f) {#f, reinterpret_cast<void *>(&f)}
#define NONE(f) {#f, nullptr}
  const Entry expected[] = {
      FN(SYS_DbgSetFlag),      FN(SYS_DbgLogFile),       FN(SYS_DbgPrintf),     FN(SYS_DbgLog),
      FN(SYS_DetectSystem),    FN(errClear),             FN(errSetCallback),    FN(errSetLastError),
      FN(errSetLastErrorEx),   FN(errGetLastError),      FN(SYS_DlOpen),        FN(SYS_DlGetProc),
      FN(SYS_DlClose),         FN(SYS_DlGetList),        FN(SYS_TimerGet),      FN(SYS_TimerSetAdjust),
      FN(SYS_TimerReset),      FN(SYS_TimerPause),       FN(SYS_Sleep),         FN(SYS_MemInfo),
      FN(_SYS_MemFree),        FN(SYS_MemDump),          FN(_SYS_MemGet),       FN(_SYS_MemRealloc),
      FN(SYS_MemSize),         FN(_SYS_StrDup),          FN(SYS_MemTotal),      FN(SYS_MemAvail),
      FN(SYS_GetCPU),          FN(SYS_CfgGet),           FN(SYS_CfgAdd),        NONE(SYS_CfgLoad),
      NONE(SYS_CfgSave),       FN(SYS_FilePackOpen),   FN(SYS_FindPack),    FN(SYS_FileOpen),
      FN(SYS_FileSeek),      FN(SYS_FileRead),       FN(SYS_FileWrite),   FN(SYS_FileGetStr),
      FN(SYS_FilePutStr),    FN(SYS_FileClose),      FN(SYS_FileExist),   FN(SYS_FileSize),
      FN(SYS_PathSetHomeBase), FN(SYS_PathGet),          FN(SYS_MkDir),         FN(SYS_Glob),
      FN(SYS_GlobFree),      FN(SYS_ZSetCompLevel),  FN(SYS_ZCompress),   FN(SYS_ZUncompress),
      FN(SYS_ZCrc32),        FN(SYS_ZAdler),         FN(SYS_TrimLeft),      FN(SYS_StrSwap),
      FN(SYS_StrRep),          FN(SYS_StrLwr),           FN(SYS_StrUpr),        FN(SYS_Trim),
      FN(SYS_Items),           FN(SYS_Cut),              FN(SYS_Cuti),          FN(SYS_Cutu),
      FN(SYS_Cutf),            FN(SYS_Str2Uri),          FN(SYS_Uri2Str),       FN(SYS_GetString),
      FN(SYS_ThreadCreate),    FN(SYS_ThreadKill),       FN(SYS_ThreadExit),    FN(SYS_ThreadSelf),
      FN(SYS_MutexCreate),     FN(SYS_MutexDestroy),     FN(SYS_MutexLock),     FN(SYS_MutexUnlock),
      FN(SYS_IConvToUCS),      NONE(SYS_LangSetFile),    NONE(SYS_LangGetPhrase), NONE(SYS_LangDestroy),
      FN(SYS_ListAddFirst),    FN(SYS_ListAddLast),      FN(SYS_ListDelItem),   FN(SYS_ListRemove),
      NONE(SYS_SocketResolve), NONE(SYS_SocketNew),      NONE(SYS_SocketConnect), NONE(SYS_SocketListen),
      NONE(SYS_SocketAccept),  NONE(SYS_SocketClear),    NONE(SYS_SocketClose), NONE(SYS_SocketSend),
      NONE(SYS_SocketRead),    NONE(SYS_SocketFGets),    NONE(SYS_XMLOpen),     NONE(SYS_XMLClose),
      NONE(SYS_XMLSetCB),      NONE(SYS_XMLParse),
  };
#undef FN
#undef NONE
  const auto table = brisk::base::BaseSymbols();
  ASSERT_EQ(std::size(expected), 98u);
  ASSERT_EQ(table.size(), 98u);
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(table[i].name, expected[i].name) << "entry " << i;
    EXPECT_EQ(table[i].function, expected[i].function);
    EXPECT_EQ(SYS_BaseGetProc(expected[i].name), expected[i].function);
  }
  // Exact, case-sensitive names only.
  for (const char *name : {"errgetlasterror", "SYS_MemGet", "errGetLastError ", "", "SYS_"})
    EXPECT_EQ(SYS_BaseGetProc(name), nullptr) << name;
  EXPECT_EQ(SYS_BaseGetProc(nullptr), nullptr);
}

}  // namespace
