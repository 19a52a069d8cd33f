// The pack tool, run as a real process: a directory tree goes into an archive
// and comes back byte for byte; bad archives and bad command lines fail with
// a message and a nonzero exit.
#include <sys/wait.h>

#include <cstdio>
#include <map>

#include "fixture.h"

namespace {

using namespace filetest;
namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs the tool with these arguments (each quoted for the shell).
Result Pack(const std::vector<std::string> &args) {
  std::string command = PACK_TOOL;
  for (const std::string &a : args) {
    command += " '";
    for (char c : a) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  command += " 2>&1";
  Result r;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) r.output.append(chunk, got);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Every regular file below root, by relative path, with its bytes.
std::map<std::string, std::string> Tree(const std::string &root) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
  return files;
}

void MakeShowTree(const std::string &root) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "layer " + std::to_string(i % 17) + " key 0 255 128\r\n";
  std::string image(256 * 256 * 3, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i / 3) % 256);
  WriteFile(root + "/intro.ife", text);
  WriteFile(root + "/textures/gradient.raw", image);
  WriteFile(root + "/textures/noise.raw", Noise(40000, 11));
  WriteFile(root + "/sound/deep/nested/demo.ogg", Noise(3000, 12));
  WriteFile(root + "/empty.txt", "");
  WriteFile(root + "/name with spaces.txt", "spaced");
  WriteFile(root + "/.hidden", "dot");
}

class PackTool : public FileTest {};

TEST_F(PackTool, RoundTripsADirectoryTreeByteForByte) {
  MakeShowTree("show");
  const auto original = Tree("show");

  Result created = Pack({"create", "show.pack", "show"});
  ASSERT_EQ(created.status, 0) << created.output;
  Result verified = Pack({"verify", "show.pack"});
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_NE(verified.output.find("ok, 7 entries"), std::string::npos) << verified.output;

  Result listed = Pack({"list", "show.pack"});
  ASSERT_EQ(listed.status, 0) << listed.output;
  for (const auto &[name, bytes] : original) EXPECT_NE(listed.output.find(name), std::string::npos) << name;
  // Compressed where that helps, stored where it does not.
  EXPECT_NE(listed.output.find("compressed  intro.ife"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("stored      textures/noise.raw"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("stored      empty.txt"), std::string::npos) << listed.output;

  Result extracted = Pack({"extract", "--into", "out", "show.pack"});
  ASSERT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(Tree("out"), original);

  // The same input gives the same bytes.
  ASSERT_EQ(Pack({"create", "again.pack", "show"}).status, 0);
  EXPECT_EQ(ReadFile("again.pack"), ReadFile("show.pack"));

  // The framework serves the tool's archive under the tree's relative names.
  ASSERT_EQ(SYS_FilePackOpen("show.pack"), 0);
  for (const auto &[name, bytes] : original) EXPECT_EQ(ReadName(name.c_str()), bytes) << name;
}

TEST_F(PackTool, ExtractsNamedEntries) {
  MakeShowTree("show");
  ASSERT_EQ(Pack({"create", "show.pack", "show"}).status, 0);
  Result some = Pack({"extract", "--into", "some", "show.pack", "intro.ife", "sound/deep/nested/demo.ogg"});
  ASSERT_EQ(some.status, 0) << some.output;
  const auto files = Tree("some");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at("intro.ife"), ReadFile("show/intro.ife"));
  EXPECT_EQ(files.at("sound/deep/nested/demo.ogg"), ReadFile("show/sound/deep/nested/demo.ogg"));

  Result missing = Pack({"extract", "--into", "none", "show.pack", "no/such/entry"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("no/such/entry: no such entry"), std::string::npos) << missing.output;
}

TEST_F(PackTool, FilesAndSeveralTreesGoIntoOneArchive) {
  WriteFile("a/one.txt", "1");
  WriteFile("b/two.txt", "2");
  WriteFile("loose.bin", "loose");
  Result created = Pack({"create", "--level", "0", "mixed.pack", "a", "b/", "loose.bin"});
  ASSERT_EQ(created.status, 0) << created.output;
  ASSERT_EQ(Pack({"extract", "--into", "mixed", "mixed.pack"}).status, 0);
  const std::map<std::string, std::string> expected{{"one.txt", "1"}, {"two.txt", "2"}, {"loose.bin", "loose"}};
  EXPECT_EQ(Tree("mixed"), expected);

  // Two inputs that would give one entry name twice are refused.
  WriteFile("c/one.txt", "other");
  Result clash = Pack({"create", "clash.pack", "a", "c"});
  EXPECT_EQ(clash.status, 1);
  EXPECT_NE(clash.output.find("one.txt"), std::string::npos) << clash.output;
  EXPECT_FALSE(fs::exists("clash.pack"));

  // An archive written into its own input tree does not pack its older self.
  WriteFile("self/data.txt", "data");
  ASSERT_EQ(Pack({"create", "self/self.pack", "self"}).status, 0);
  ASSERT_EQ(Pack({"create", "self/self.pack", "self"}).status, 0);
  Result listed = Pack({"list", "self/self.pack"});
  EXPECT_EQ(listed.output.find("self.pack"), std::string::npos) << listed.output;
}

TEST_F(PackTool, BadInputsFailWithAMessage) {
  WriteFile("text.txt", "not an archive");
  std::filesystem::create_directory("emptydir");
  MakeShowTree("show");
  ASSERT_EQ(Pack({"create", "show.pack", "show"}).status, 0);
  // One flipped byte inside a compressed entry's stream.
  std::string damaged = ReadFile("show.pack");
  ASSERT_EQ(SYS_FilePackOpen("show.pack"), 0);
  const SYS_Pack_t *pack = SYS_FindPack("intro.ife");
  ASSERT_NE(pack, nullptr);
  const SYS_PackEntry_t *intro = nullptr;
  for (int i = 0; i < pack->count; ++i)
    if (std::string(pack->entries[i].name) == "intro.ife") intro = &pack->entries[i];
  ASSERT_NE(intro, nullptr);
  ASSERT_TRUE(intro->flags & SYS_PACK_COMPRESSED);
  damaged[intro->offset + 40] = static_cast<char>(damaged[intro->offset + 40] ^ 0x10);
  WriteFile("damaged.pack", damaged);

  struct Case {
    const char *label;
    std::vector<std::string> args;
    int status;
    const char *message;
  };
  const Case cases[] = {
      {"no_command", {}, 2, "no command given"},
      {"unknown_command", {"pack-it"}, 2, "unknown command"},
      {"create_without_inputs", {"create", "x.pack"}, 2, "at least one input"},
      {"create_missing_input", {"create", "x.pack", "does-not-exist"}, 1, "does-not-exist"},
      {"create_nothing_to_pack", {"create", "x.pack", "emptydir"}, 1, "nothing to pack"},
      {"create_bad_level", {"create", "--level", "12", "x.pack", "show"}, 2, "--level"},
      {"list_missing", {"list", "missing.pack"}, 1, "missing.pack: no such file"},
      {"list_not_an_archive", {"list", "text.txt"}, 1, "not a pack archive"},
      {"list_a_directory", {"list", "show"}, 1, "is a directory"},
      {"verify_not_an_archive", {"verify", "text.txt"}, 1, "not a pack archive"},
      {"verify_damaged_entry", {"verify", "damaged.pack"}, 1, "intro.ife"},
      {"extract_damaged_entry", {"extract", "--into", "d", "damaged.pack", "intro.ife"}, 1, "intro.ife"},
      {"list_two_archives", {"list", "a.pack", "b.pack"}, 2, "exactly one archive"},
  };
  for (const Case &c : cases) {
    Result r = Pack(c.args);
    EXPECT_EQ(r.status, c.status) << c.label << ": " << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.label << ": " << r.output;
  }
  EXPECT_FALSE(fs::exists("x.pack"));

  Result help = Pack({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: pack"), std::string::npos);
  for (const char *command : {"create", "list", "extract", "verify"})
    EXPECT_NE(help.output.find(command), std::string::npos) << command;
}

TEST_F(PackTool, ExtractRefusesNamesThatLeaveTheTarget) {
  WriteFile("evil.pack", MakeArchive({{"../escaped.txt", "out", false},
                                      {"/tmp/absolute-from-pack.txt", "abs", false},
                                      {"a/../../up.txt", "up", false},
                                      {"fine/inside.txt", "ok", false}})
                             .bytes);
  Result r = Pack({"extract", "--into", "target/inner", "evil.pack"});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("refused"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists("target/escaped.txt"));
  EXPECT_FALSE(fs::exists("escaped.txt"));
  EXPECT_FALSE(fs::exists("up.txt"));
  EXPECT_FALSE(fs::exists("target/up.txt"));
  EXPECT_FALSE(fs::exists("/tmp/absolute-from-pack.txt"));
  EXPECT_EQ(ReadFile("target/inner/fine/inside.txt"), "ok");
}

}  // namespace
