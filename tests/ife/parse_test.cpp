// The ".ife" reader without GL: data lines, key-line fields, the parser's
// records and its refusals of malformed files, the special texture names,
// and the key search and easing behind IfeDraw.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "runtime/ife.h"
#include "runtime/ife_frame.h"
#include "runtime/ife_parse.h"
#include "tests/file/fixture.h"

namespace {

using filetest::ReadFile;
using filetest::WriteFile;

// Opens a fixture in text mode, as IfeLoad does.
class IfeFile : public filetest::FileTest {
 protected:
  void TearDown() override {
    if (file_) SYS_FileClose(file_);
    FileTest::TearDown();
  }

  SYS_File_t *Open(const std::string &text, const char *name = "case.ife") {
    WriteFile(name, text);
    return OpenExisting(name);
  }
  SYS_File_t *OpenExisting(const char *name) {
    if (file_) SYS_FileClose(file_);
    file_ = SYS_FileOpen(name, SYS_FILE_TEXT);
    EXPECT_NE(file_, nullptr) << name;
    return file_;
  }

  // Parses the open file; the resolver notes each (image, prefix) it is asked
  // about and answers the special slot or 1000 + its position.
  bool Parse(ife_interface *record, std::string *error, const ShortString &prefix = {}, const char *name = "case.ife") {
    asked_.clear();
    auto resolve = [this](const ShortString &image, const ShortString &dir) {
      asked_.push_back(std::string(image.view()) + "|" + std::string(dir.view()));
      std::int32_t texture = 0;
      if (IfeSpecialTexture(image.view(), &texture)) return texture;
      return static_cast<std::int32_t>(1000 + asked_.size());
    };
    return IfeParse(file_, name, prefix, resolve, record, error);
  }

  SYS_File_t *file_ = nullptr;
  std::vector<std::string> asked_;
};

// --- data lines -------------------------------------------------------------

TEST_F(IfeFile, ReadLineSkipsCommentsTrimsCutsAndLogsEachDataLine) {
  const std::string long300(300, 'a');
  const std::string long600 = std::string(600, 'b') + "TAIL";
  Open("# comment\n#\n  \tdata \x01\r\n" + long300 + "\n" + long600 + "\n after\n\n # not a comment\n" +
       std::string(511, 'c') + "\nlast");
  const size_t logged = ReadFile("debug.log").size();

  EXPECT_EQ(IfeReadLine(file_).view(), "data");
  EXPECT_EQ(IfeReadLine(file_).view(), long300.substr(0, 255)) << "cut to 255 characters";
  EXPECT_EQ(IfeReadLine(file_).view(), std::string(255, 'b'));
  EXPECT_EQ(IfeReadLine(file_).view(), "after") << "the rest of an over-long line is dropped";
  EXPECT_EQ(IfeReadLine(file_).view(), "") << "an empty line is a data line";
  EXPECT_EQ(IfeReadLine(file_).view(), "# not a comment") << "only a leading # makes a comment";
  EXPECT_EQ(IfeReadLine(file_).view(), std::string(255, 'c'));
  EXPECT_EQ(IfeReadLine(file_).view(), "last") << "a line of exactly 511 characters leaves no empty line behind";
  EXPECT_EQ(IfeReadLine(file_).view(), "") << "the end of the file";

  // Each data line as read (at most 511 characters), on a line of its own; comments are not logged.
  const std::string log = ReadFile("debug.log").substr(logged);
  EXPECT_EQ(log, "  \tdata \x01\n" + long300 + "\n" + std::string(511, 'b') + "\n after\n\n # not a comment\n" +
                     std::string(511, 'c') + "\nlast\n");
}

// The show reads its interfaces from a pack archive, whose lines keep their line end.
TEST_F(IfeFile, PackEntriesAndCrLfLinesReadLikePlainOnes) {
  const std::string lf = "1\n0\n# c\nwhite.tga\ntwo\nthree\n1\n2\n5 6 7 0 0 8 9 10 11 12 13\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteFile("data.pack", filetest::MakeArchive({{"lf.ife", lf, false}, {"crlf.ife", crlf, true}}).bytes);
  WriteFile("plain-crlf.ife", crlf);
  ASSERT_EQ(SYS_FilePackOpen("data.pack"), 0);
  for (const char *name : {"lf.ife", "crlf.ife", "plain-crlf.ife"}) {
    SCOPED_TRACE(name);
    ASSERT_NE(OpenExisting(name), nullptr);
    const size_t logged = ReadFile("debug.log").size();
    ife_interface record{};
    std::string error;
    ASSERT_TRUE(Parse(&record, &error, {}, name)) << error;
    EXPECT_EQ(record.layers[0].image.view(), "white.tga");
    EXPECT_EQ(record.layers[0].text3.view(), "three");
    EXPECT_EQ(record.layers[0].blend, 2);
    EXPECT_EQ(record.layers[0].keys[0].alpha, 13);
    EXPECT_EQ(ReadFile("debug.log").substr(logged), "1\n0\nwhite.tga\ntwo\nthree\n1\n2\n5 6 7 0 0 8 9 10 11 12 13\n");
    IfeFree(&record);
  }
}

// --- key-line fields --------------------------------------------------------

TEST(IfeField, FieldsBetweenSingleBlanksReadAsNumbers) {
  struct Case {
    const char *line;
    int n;
    float value;
  } const cases[] = {
      {"1 2 3", 1, 1},          {"1 2 3", 3, 3},         {"1 2 3", 4, 0},  // missing
      {"1  3", 2, 0},           {"1  3", 3, 3},                              // a doubled blank: an empty field
      {"-2.5 +4 .5 5.", 1, -2.5f}, {"-2.5 +4 .5 5.", 2, 4}, {"-2.5 +4 .5 5.", 3, 0.5f}, {"-2.5 +4 .5 5.", 4, 5},
      {"1e3 2E-2 -1.5e+1", 1, 1000}, {"1e3 2E-2 -1.5e+1", 2, 0.02f}, {"1e3 2E-2 -1.5e+1", 3, -15},
      {"0.1", 1, 0.1f},                                                       // kept in single precision
      {"x1 1x 1.5e 0x10 nan inf - . e5", 1, 0}, {"x1 1x 1.5e 0x10 nan inf - . e5", 2, 0},
      {"x1 1x 1.5e 0x10 nan inf - . e5", 3, 0}, {"x1 1x 1.5e 0x10 nan inf - . e5", 4, 0},
      {"x1 1x 1.5e 0x10 nan inf - . e5", 5, 0}, {"x1 1x 1.5e 0x10 nan inf - . e5", 6, 0},
      {"x1 1x 1.5e 0x10 nan inf - . e5", 7, 0}, {"x1 1x 1.5e 0x10 nan inf - . e5", 8, 0},
      {"x1 1x 1.5e 0x10 nan inf - . e5", 9, 0},
      {"1e39 -1e39 1e-50 3.4e38", 1, 0}, {"1e39 -1e39 1e-50 3.4e38", 2, 0},   // beyond single precision
      {"1e39 -1e39 1e-50 3.4e38", 3, 0}, {"1e39 -1e39 1e-50 3.4e38", 4, 3.4e38f},
      {"7\t 8", 1, 7},                                                        // a field is trimmed
      {"", 1, 0},               {"5", 0, 0},             {"5", -3, 0},          {"5", 1000000, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(IfeField(ShortString(c.line), c.n), c.value) << '"' << c.line << "\" field " << c.n;
  }
}

// --- the parser -------------------------------------------------------------

TEST_F(IfeFile, ParserFillsEveryLayerAndKey) {
  Open(" 2 \n"
       "-7\n"
       "white.tga\n"
       "second text\n"
       "third text\n"
       "3\n"
       "257\n"
       "100 400 300 0 0 800 600 255 255 255 255\n"
       "# a comment between two key lines\n"
       "\n"
       "2.5 1.25 -2 1 45 3 4 5 6 7 8\n"
       "# layer 2\n"
       "pic.tga\n"
       "\n"
       "\n"
       "1\n"
       "-1\n"
       "3.5 0 0 2\n");
  ife_interface record{};
  std::string error;
  ASSERT_TRUE(Parse(&record, &error, ShortString("textures"))) << error;
  ASSERT_EQ(record.layerCount, 2);
  EXPECT_EQ(record.param, -7);
  EXPECT_EQ(asked_, (std::vector<std::string>{"white.tga|textures", "pic.tga|textures"}));

  const ife_layer &a = record.layers[0];
  EXPECT_EQ(a.image.view(), "white.tga");
  EXPECT_EQ(a.text2.view(), "second text");
  EXPECT_EQ(a.text3.view(), "third text");
  EXPECT_EQ(a.texture, 0);
  EXPECT_EQ(a.blend, 1) << "the low eight bits of 257";
  ASSERT_EQ(a.keyCount, 3);
  const ife_keys &k0 = a.keys[0];
  EXPECT_EQ(k0.time, 100);
  EXPECT_EQ(k0.x, 400);
  EXPECT_EQ(k0.y, 300);
  EXPECT_EQ(k0.ease, 0);
  EXPECT_EQ(k0.angle, 0);
  EXPECT_EQ(k0.width, 800);
  EXPECT_EQ(k0.height, 600);
  EXPECT_EQ(k0.red + k0.green + k0.blue + k0.alpha, 4 * 255);
  const ife_keys &k1 = a.keys[1];  // the empty line after the comment
  EXPECT_EQ(k1.time, 0);
  EXPECT_EQ(k1.ease, 0);
  for (float v : {k1.x, k1.y, k1.angle, k1.width, k1.height, k1.red, k1.green, k1.blue, k1.alpha}) EXPECT_EQ(v, 0);
  const ife_keys &k2 = a.keys[2];
  EXPECT_EQ(k2.time, 2) << "2.5 rounds to the even neighbour";
  EXPECT_EQ(k2.x, 1.25f);
  EXPECT_EQ(k2.y, -2);
  EXPECT_EQ(k2.ease, 1);
  EXPECT_EQ(k2.angle, 45);
  EXPECT_EQ((std::vector<float>{k2.width, k2.height, k2.red, k2.green, k2.blue, k2.alpha}),
            (std::vector<float>{3, 4, 5, 6, 7, 8}));

  const ife_layer &b = record.layers[1];
  EXPECT_EQ(b.image.view(), "pic.tga");
  EXPECT_EQ(b.text2.view(), "");
  EXPECT_EQ(b.texture, 1002);
  EXPECT_EQ(b.blend, 255) << "the low eight bits of -1";
  ASSERT_EQ(b.keyCount, 1);
  EXPECT_EQ(b.keys[0].time, 4) << "3.5 rounds to the even neighbour";
  EXPECT_EQ(b.keys[0].ease, 2);
  EXPECT_EQ(b.keys[0].width, 0) << "missing fields read as 0";
  IfeFree(&record);
  EXPECT_EQ(record.layers, nullptr);
}

TEST_F(IfeFile, TimeAndEaseAreRoundedHalfToEvenAndEaseKeepsEightBits) {
  struct Case {
    const char *time, *ease;
    std::int32_t want_time;
    std::uint8_t want_ease;
  } const cases[] = {
      {"2.5", "0.5", 2, 0},       {"3.5", "1.5", 4, 2},     {"-2.5", "2.5", -2, 2},   {"-3.5", "-0.5", -4, 0},
      {"2.4999", "1.6", 2, 2},    {"0.5001", "256", 1, 0},  {"-0.6", "257", -1, 1},   {"1e10", "-1", 2147483647, 255},
      {"-1e10", "-256.5", std::numeric_limits<std::int32_t>::min(), 0},  {"16777217", "1e30", 16777216, 0},
      {"x", "x", 0, 0},
  };
  std::string text = "1\n0\nwhite.tga\n\n\n" + std::to_string(std::size(cases)) + "\n0\n";
  for (const Case &c : cases) text += std::string(c.time) + " 0 0 " + c.ease + "\n";
  Open(text);
  ife_interface record{};
  std::string error;
  ASSERT_TRUE(Parse(&record, &error)) << error;
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(record.layers[0].keys[i].time, cases[i].want_time) << "time " << cases[i].time;
    EXPECT_EQ(record.layers[0].keys[i].ease, cases[i].want_ease) << "ease " << cases[i].ease;
  }
  IfeFree(&record);
}

TEST_F(IfeFile, LayerAndKeyCountsOfZeroAllocateNothing) {
  Open("0\n5\n");
  ife_interface record{};
  std::string error;
  ASSERT_TRUE(Parse(&record, &error)) << error;
  EXPECT_EQ(record.layerCount, 0);
  EXPECT_EQ(record.param, 5);
  EXPECT_EQ(record.layers, nullptr);
  EXPECT_TRUE(asked_.empty());

  Open("1\n0\nRT\n\n\n0\n2\n");
  ASSERT_TRUE(Parse(&record, &error)) << error;
  EXPECT_EQ(record.layers[0].keyCount, 0);
  EXPECT_EQ(record.layers[0].keys, nullptr);
  IfeFree(&record);
}

TEST_F(IfeFile, TheFormatsLargestCountsAreAccepted) {
  std::string text = "1001\n0\n";
  for (int i = 0; i < 1000; ++i) text += "white.tga\n\n\n0\n0\n";
  text += "white.tga\n\n\n10001\n0\n";
  for (int i = 0; i < 10001; ++i) text += "\n";
  Open(text);
  ife_interface record{};
  std::string error;
  ASSERT_TRUE(Parse(&record, &error)) << error;
  EXPECT_EQ(record.layerCount, 1001);
  EXPECT_EQ(record.layers[1000].keyCount, 10001);
  IfeFree(&record);
}

// A layer before the damage, so that its allocations must be undone too.
const std::string kGoodLayer = "white.tga\n\n\n1\n0\n1 2 3 0 0 4 5 6 7 8 9\n";

TEST_F(IfeFile, MalformedFilesAreRefusedWithFileAndLine) {
  struct Case {
    const char *what;
    std::string text;
    std::string message;  // after "Interface file case.ife, "
  };
  const std::string pad(100, 'p');  // bytes enough for the count checks to pass
  const Case cases[] = {
      {"empty file", "", "line 1: the file ends before the layer count"},
      {"comments only", "# a\n# b\n", "line 3: the file ends before the layer count"},
      {"layer count not a number", "# header\nabc\n", "line 2: the layer count \"abc\" is not an integer"},
      {"layer count with a fraction", "1.5\n0\n", "line 1: the layer count \"1.5\" is not an integer"},
      {"layer count with a trailing word", "2 layers\n0\n", "line 1: the layer count \"2 layers\" is not an integer"},
      {"layer count beyond int32", "4294967297\n0\n", "line 1: the layer count \"4294967297\" is not an integer"},
      {"empty layer count", "\n0\n", "line 1: the layer count \"\" is not an integer"},
      {"long line quoted in part", std::string(300, '9') + "x\n",
       "line 1: the layer count \"" + std::string(40, '9') + "...\" is not an integer"},
      {"negative layer count", "-1\n0\n", "line 1: the layer count -1 is negative"},
      {"too many layers", "1002\n0\n" + pad, "line 1: the layer count 1002 is more than 1001"},
      {"more layers than the file holds", "30\n0\n" + pad, "line 1: the layer count 30 needs more lines than the rest of the file holds"},
      {"param missing", "0\n", "line 1: the layer count 0 needs more lines than the rest of the file holds"},
      {"param missing after a comment", "0\n# c\n", "line 3: the file ends before the second header value"},
      {"param not a number", "0\nzero\n", "line 2: the second header value \"zero\" is not an integer"},
      {"image line missing", "1\n         0\n", "line 3: the file ends before the image name of layer 1"},
      {"key count missing", "2\n0\n" + kGoodLayer + "img\nt2\nt3\n",
       "line 12: the file ends before the key count of layer 2"},
      {"key count not a number", "2\n0\n" + kGoodLayer + "img\nt2\nt3\nmany\n0\n" + pad,
       "line 12: the key count of layer 2 \"many\" is not an integer"},
      {"negative key count", "2\n0\n" + kGoodLayer + "img\nt2\nt3\n-5\n0\n", "line 12: the key count of layer 2 -5 is negative"},
      {"too many keys", "2\n0\n" + kGoodLayer + "img\nt2\nt3\n10002\n0\n" + pad,
       "line 12: the key count of layer 2 10002 is more than 10001"},
      {"more keys than the file holds", "2\n0\n" + kGoodLayer + "img\nt2\nt3\n60\n0\n" + std::string(40, '\n'),
       "line 12: the key count of layer 2 60 needs more lines than the rest of the file holds"},
      {"keys leave no room for the next layer", "2\n0\nimg\n\n\n3\n0\n\n\n\n" + std::string(3, '\n'),
       "line 6: the key count of layer 1 3 needs more lines than the rest of the file holds"},
      {"blend not a number", "1\n0\nimg\n\n\n0\n2a\n", "line 7: the blend mode of layer 1 \"2a\" is not an integer"},
      {"file ends within the keys", "2\n0\n" + kGoodLayer + "img\n\n\n2\n0\n1 " + pad + "\n",
       "line 15: the file ends before key 2 of layer 2"},
  };
  const long before = filetest::LiveMemory().bytes;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.text);
    ife_interface record{};
    record.layerCount = 77;  // must stay untouched
    std::string error;
    EXPECT_FALSE(Parse(&record, &error));
    EXPECT_EQ(error, "Interface file case.ife, " + c.message);
    EXPECT_EQ(record.layerCount, 77);
    EXPECT_EQ(record.layers, nullptr);
  }
  SYS_FileClose(file_);
  file_ = nullptr;
  EXPECT_EQ(filetest::LiveMemory().bytes, before) << "a refused file leaves no allocation behind";
}

// --- texture names ----------------------------------------------------------

TEST(IfeTextures, SpecialNamesAreComparedWithCaseAndReadTheSlots) {
  for (int i = 0; i < 8; ++i) ifeBufTextures[i] = 100 + i;
  ifeRenderTarget = 200;
  ifeGlowTexture = 300;
  struct Case {
    const char *image;
    bool special;
    std::int32_t texture;
  } const cases[] = {
      {"white.tga", true, 0}, {"BUF0.JPG", true, 100}, {"BUF2.JPG", true, 102}, {"BUF7.JPG", true, 107},
      {"BUF8.JPG", true, 0},  {"BUF0.jpg", true, 0},   {"BUF", true, 0},        {"BUFFER.TGA", true, 0},
      {"RT", true, 200},      {"GLOW", true, 300},     {"buf0.jpg", false, -1}, {"White.tga", false, -1},
      {"rt", false, -1},      {"RT2", false, -1},      {"glow", false, -1},     {"", false, -1},
  };
  for (const Case &c : cases) {
    std::int32_t texture = -1;
    EXPECT_EQ(IfeSpecialTexture(c.image, &texture), c.special) << c.image;
    EXPECT_EQ(texture, c.texture) << c.image;
  }
  for (auto &slot : ifeBufTextures) slot = 0;
  ifeRenderTarget = ifeGlowTexture = 0;

  EXPECT_EQ(IfeTexturePath(ShortString(""), ShortString("a.tga")).view(), "a.tga");
  EXPECT_EQ(IfeTexturePath(ShortString("data/ui"), ShortString("a.tga")).view(), "data/ui/a.tga");
  EXPECT_EQ(IfeTexturePath(ShortString(std::string(250, 'd')), ShortString("a.tga")).view(),
            std::string(250, 'd') + "/a.tg") << "a short string";
}

// --- key search and easing --------------------------------------------------

struct Keys {
  std::vector<ife_keys> keys;
  ife_layer layer{};
  explicit Keys(std::vector<ife_keys> k) : keys(std::move(k)) {
    layer.keys = keys.data();
    layer.keyCount = static_cast<std::int32_t>(keys.size());
  }
};

ife_keys Key(std::int32_t time, float x, std::uint8_t ease = 0) {
  return ife_keys{time, x, 10, ease, 2 * x, 4, 6, 255, 51, 0, 255};
}

TEST(IfeFrame, KeysAroundTheTimeAreEasedByTheEarlierKey) {
  struct Case {
    std::uint8_t ease;
    float t, x;
  } const cases[] = {
      {0, 500, 400},   {0, -100, 0},   {0, 2000, 800}, {0, 0, 0},  {0, 1000, 800}, {0, 250, 200},
      {1, 500, 800 * std::sin(M_PI / 4)},  {2, 500, 800 * (1 - std::cos(M_PI / 4))},
      {1, 0, 0},       {1, 1000, 800}, {2, 1000, 800},
      {7, 500, 0},  // no such easing: key a holds
  };
  for (const Case &c : cases) {
    Keys k({Key(0, 0, c.ease), Key(1000, 800, c.ease)});
    IfeFrame frame;
    ASSERT_TRUE(IfeLayerFrame(k.layer, c.t, &frame));
    EXPECT_NEAR(frame.x, c.x, 0.01) << "ease " << int(c.ease) << " t " << c.t;
    EXPECT_NEAR(frame.angle, 2 * c.x, 0.02);
    EXPECT_FLOAT_EQ(frame.green, 0.2f) << "colour divided by 255";
  }
}

TEST(IfeFrame, DegenerateKeysGiveFiniteValuesOfOneKey) {
  struct Case {
    const char *what;
    std::vector<ife_keys> keys;
    float t;
    std::int32_t a, b;
    float x;
  };
  const Case cases[] = {
      {"single key before", {Key(100, 5)}, -1e30f, 0, 0, 5},
      {"single key after", {Key(100, 5)}, 1e30f, 0, 0, 5},
      {"on a key", {Key(0, 0), Key(10, 1), Key(20, 2)}, 10, 1, 1, 1},
      {"equal times around t", {Key(0, 0), Key(500, 10), Key(500, 20), Key(1000, 30)}, 500, 2, 1, 20},
      {"two keys of one time", {Key(500, 10), Key(500, 20)}, 500, 1, 0, 20},
      {"t not a number", {Key(0, 0), Key(1000, 800)}, std::nanf(""), 0, 1, 0},
      {"t infinite", {Key(0, 0), Key(1000, 800)}, std::numeric_limits<float>::infinity(), 1, 1, 800},
      {"times out of order", {Key(1000, 800), Key(0, 0)}, 250, 1, 0, 200},
      {"extreme times", {Key(std::numeric_limits<std::int32_t>::min(), 0), Key(std::numeric_limits<std::int32_t>::max(), 8)},
       0, 0, 1, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Keys k(c.keys);
    std::int32_t a = -1, b = -1;
    float f = -1;
    ASSERT_TRUE(IfeKeySpan(k.layer, c.t, &a, &b, &f));
    EXPECT_EQ(a, c.a);
    EXPECT_EQ(b, c.b);
    EXPECT_TRUE(f >= 0 && f <= 1) << f;
    IfeFrame frame;
    ASSERT_TRUE(IfeLayerFrame(k.layer, c.t, &frame));
    EXPECT_NEAR(frame.x, c.x, 1e-3);
    for (float v : {frame.x, frame.y, frame.angle, frame.width, frame.height, frame.red, frame.alpha})
      EXPECT_TRUE(std::isfinite(v));
  }
  Keys none({});
  IfeFrame frame;
  EXPECT_FALSE(IfeLayerFrame(none.layer, 0, &frame)) << "a layer without keys has nothing to draw";
}

TEST(IfeFrame, InterpolateMeetsBothEndsWithEveryEasing) {
  for (std::uint8_t ease : {0, 1, 2}) {
    EXPECT_EQ(IfeInterpolate(ease, 0, 3, 11), 3) << int(ease);
    EXPECT_FLOAT_EQ(IfeInterpolate(ease, 1, 3, 11), 11) << int(ease);
  }
  EXPECT_FLOAT_EQ(IfeInterpolate(0, 0.25f, 100, 200), 125);
  EXPECT_FLOAT_EQ(IfeInterpolate(1, 1.0f / 3, 0, 1), 0.5f) << "sin(pi/6)";
  EXPECT_FLOAT_EQ(IfeInterpolate(2, 2.0f / 3, 0, 1), 0.5f) << "1 - cos(pi/3)";
  EXPECT_EQ(IfeInterpolate(3, 0.5f, 3, 11), 3);
  EXPECT_EQ(IfeInterpolate(255, 1, 3, 11), 3);
}

}  // namespace
