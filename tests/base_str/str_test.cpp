#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/mem.h"
#include "base/str.h"
#include "tests/support/live_memory.h"

namespace {

using brisktest::LiveTrackedBytes;

// Exactly-sized heap copy, so that the sanitizer catches any read or write
// past the terminator.
std::vector<char> Buffer(const std::string &text) {
  std::vector<char> b(text.size() + 1);
  std::copy(text.begin(), text.end(), b.begin());
  return b;
}

TEST(StrEdit, TrimRemovesSpacesOnly) {
  struct Case {
    const char *in, *left, *both;
  };
  const Case cases[] = {
      {"  ab c  ", "ab c  ", "ab c"},
      {"\tab\t", "\tab\t", "\tab\t"},
      {" \t x \t ", "\t x \t ", "\t x \t"},
      {"    ", "", ""},
      {"", "", ""},
      {"x", "x", "x"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    auto a = Buffer(c.in);
    EXPECT_EQ(SYS_TrimLeft(a.data()), a.data());
    EXPECT_STREQ(a.data(), c.left);
    auto b = Buffer(c.in);
    EXPECT_EQ(SYS_Trim(b.data()), b.data());
    EXPECT_STREQ(b.data(), c.both);
  }
  EXPECT_EQ(SYS_TrimLeft(nullptr), nullptr);
  EXPECT_EQ(SYS_Trim(nullptr), nullptr);
}

TEST(StrEdit, StrSwap) {
  struct Case {
    const char *in;
    int from, to;
    const char *out;
  };
  const Case cases[] = {
      {"a#b#c", '#', '/', "a/b/c"},
      {"a#b#c", '#', 0, "a"},
      {"#a", '#', 0, ""},
      {"abc", 'x', 'y', "abc"},
      {"abc", 0, 'y', "abc"},
      {"", '#', 'y', ""},
      {"caf\xE9", 0xE9, 'e', "cafe"},           // byte value
      {"caf\xE9", (char)0xE9, 'e', "cafe"},     // char value
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    auto b = Buffer(c.in);
    EXPECT_EQ(SYS_StrSwap(b.data(), c.from, c.to), b.data());
    EXPECT_STREQ(b.data(), c.out);
  }
  // Only the first occurrence ends the text; the rest of the buffer is untouched.
  auto b = Buffer("a#b#c");
  SYS_StrSwap(b.data(), '#', 0);
  EXPECT_EQ(std::string(b.data() + 2), "b#c");
  EXPECT_EQ(SYS_StrSwap(nullptr, '#', 0), nullptr);
}

TEST(StrEdit, Items) {
  EXPECT_EQ(SYS_Items("a=b=c", '='), 2);
  EXPECT_EQ(SYS_Items("===", '='), 3);
  EXPECT_EQ(SYS_Items("abc", '='), 0);
  EXPECT_EQ(SYS_Items("abc", 0), 0);
  EXPECT_EQ(SYS_Items("", '='), 0);
  EXPECT_EQ(SYS_Items(nullptr, '='), 0);
}

TEST(StrEdit, CaseChangesAsciiLettersOnly) {
  auto b = Buffer("Hello, World! \xC4\xE4 @[`{");
  EXPECT_EQ(SYS_StrLwr(b.data()), b.data());
  EXPECT_STREQ(b.data(), "hello, world! \xC4\xE4 @[`{");
  EXPECT_EQ(SYS_StrUpr(b.data()), b.data());
  EXPECT_STREQ(b.data(), "HELLO, WORLD! \xC4\xE4 @[`{");
  EXPECT_EQ(SYS_StrLwr(nullptr), nullptr);
  EXPECT_EQ(SYS_StrUpr(nullptr), nullptr);
}

TEST(StrCut, FieldsByIndex) {
  struct Case {
    const char *source;
    int sep, index;
    const char *field;
  };
  const Case cases[] = {
      {"a=b=c", '=', 0, "a"},
      {"a=b=c", '=', 1, "b"},
      {"a=b=c", '=', 2, "c"},
      {"a=b=c", '=', 3, ""},
      {"a=b=c", '=', 100, ""},
      {"a==c", '=', 0, "a"},
      {"a==c", '=', 1, ""},
      {"a==c", '=', 2, "c"},
      {"name = value", '=', 0, "name "},
      {"name = value", '=', 1, " value"},
      {"=a=b", '=', 0, "a"},      // a leading separator is skipped for index 0
      {"=a=b", '=', 2, "b"},
      {"abc", '=', 0, "abc"},
      {"abc", '=', 1, ""},
      {"a=", '=', 0, "a"},
      {"a=", '=', 1, ""},
      {"", '=', 0, ""},
      {"x\xB7y", 0xB7, 1, "y"},
      {"x\xB7y", (char)0xB7, 1, "y"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.source) + " #" + std::to_string(c.index));
    auto source = Buffer(c.source);
    std::vector<char> target(source.size(), '#');
    EXPECT_EQ(SYS_Cut(source.data(), target.data(), c.sep, c.index), target.data());
    EXPECT_STREQ(target.data(), c.field);
    // In place: the copy never overtakes the reading.
    EXPECT_EQ(SYS_Cut(source.data(), source.data(), c.sep, c.index), source.data());
    EXPECT_STREQ(source.data(), c.field);
  }
}

TEST(StrCut, RefusedArgumentsLeaveTargetUntouched) {
  char target[] = "keep";
  EXPECT_EQ(SYS_Cut(nullptr, target, '=', 0), nullptr);
  EXPECT_EQ(SYS_Cut("a=b", nullptr, '=', 0), nullptr);
  EXPECT_EQ(SYS_Cut("a=b", target, 0, 0), nullptr);
  EXPECT_STREQ(target, "keep");
}

TEST(StrCut, NumericFields) {
  const long before = LiveTrackedBytes();
  ASSERT_GE(before, 0) << "memory report unreadable";
  EXPECT_EQ(SYS_Cuti("10,-20,30", ',', 1), -20);
  EXPECT_EQ(SYS_Cuti("10,-20,30", ',', 5), 0);
  EXPECT_EQ(SYS_Cuti("  42abc", 0, 3), 42);        // separator 0: whole source
  EXPECT_EQ(SYS_Cuti(nullptr, ',', 0), 0);
  EXPECT_EQ(SYS_Cuti("x,99999999999", ',', 1), INT_MAX);
  EXPECT_EQ(SYS_Cuti("x,-99999999999", ',', 1), INT_MIN);
  EXPECT_EQ(SYS_Cutu("1:4294967295:7", ':', 1), 4294967295u);
  EXPECT_EQ(SYS_Cutu("1:-1:7", ':', 1), 4294967295u);
  EXPECT_EQ(SYS_Cutu("1:-2:7", ':', 1), 4294967294u);
  EXPECT_EQ(SYS_Cutu("1:99999999999:7", ':', 1), UINT_MAX);
  EXPECT_EQ(SYS_Cutu("1:2:7", ':', 2), 7u);
  EXPECT_EQ(SYS_Cutu(nullptr, ':', 0), 0u);
  EXPECT_FLOAT_EQ(SYS_Cutf("0.5;-1.25;3", ';', 1), -1.25f);
  EXPECT_FLOAT_EQ(SYS_Cutf("2.5e1", 0, 0), 25.0f);
  EXPECT_TRUE(std::isinf(SYS_Cutf("1e60", 0, 0)));
  EXPECT_EQ(SYS_Cutf(nullptr, ';', 0), 0.0f);
  EXPECT_EQ(LiveTrackedBytes(), before) << "field copies leaked";
}

TEST(StrRep, ReplacesLeftToRightWithoutOverlap) {
  struct Case {
    const char *text, *pattern, *replacement, *out;
  };
  const Case cases[] = {
      {"a.b.c", ".", "::", "a::b::c"},
      {"aaaa", "aa", "b", "bb"},
      {"aaa", "aa", "b", "ba"},
      {"abcabc", "abc", "", ""},
      {"hello", "xyz", "q", "hello"},
      {"hello", "hello", "bye", "bye"},
      {"", "a", "b", ""},
      {"x", "x", "xxxxxxxxxx", "xxxxxxxxxx"},
      {"abc", "", "z", "abc"},   // empty pattern: a plain copy
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
    char *out = SYS_StrRep(c.text, c.pattern, c.replacement);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(errGetLastError(), 0);
    EXPECT_STREQ(out, c.out);
    EXPECT_GE(SYS_MemSize(out), static_cast<int>(std::strlen(c.out) + 1));
    SYS_MemFree(out);
    EXPECT_EQ(out, nullptr);
  }
}

TEST(StrRep, NullArguments) {
  const char *args[][3] = {{nullptr, "a", "b"}, {"a", nullptr, "b"}, {"a", "a", nullptr}};
  for (auto &a : args) {
    EXPECT_EQ(SYS_StrRep(a[0], a[1], a[2]), nullptr);
    EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  }
}

TEST(StrUri, EncodeEscapesAllButDotLettersDigits) {
  struct Case {
    const char *in, *out;
  };
  const Case cases[] = {
      {" ", "%20"},
      {"a.Z9", "a.Z9"},
      {"a b/c?d=e&f", "a%20b%2Fc%3Fd%3De%26f"},
      {"-_~%", "%2D%5F%7E%25"},
      {"\xE9\xFF\x01", "%E9%FF%01"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    std::vector<char> target(3 * std::strlen(c.in) + 1, '#');   // exactly the documented size
    EXPECT_EQ(SYS_Str2Uri(c.in, target.data()), target.data());
    EXPECT_STREQ(target.data(), c.out);
    // And back again.
    std::vector<char> back(target.size(), '#');
    EXPECT_EQ(SYS_Uri2Str(target.data(), back.data()), back.data());
    EXPECT_STREQ(back.data(), c.in);
  }
}

TEST(StrUri, Decode) {
  struct Case {
    const char *in, *out;
  };
  const Case cases[] = {
      {"%41", "A"},
      {"a%20b", "a b"},
      {"%e9%Fa", "\xE9\xFA"},     // either case of hex digit
      {"100%", "100%"},           // '%' at the end
      {"%4", "%4"},               // one digit before the end
      {"%%41", "%A"},
      {"%G1x", "%G1x"},           // not hexadecimal: copied as it is
      {"%4G", "%4G"},
      {"plain", "plain"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    auto source = Buffer(c.in);
    std::vector<char> target(source.size(), '#');
    EXPECT_EQ(SYS_Uri2Str(source.data(), target.data()), target.data());
    EXPECT_STREQ(target.data(), c.out);
    EXPECT_EQ(SYS_Uri2Str(source.data(), source.data()), source.data());   // in place
    EXPECT_STREQ(source.data(), c.out);
  }
}

TEST(StrUri, EmptyAndNullSources) {
  const char *empty = "";
  char target[] = "keep";
  EXPECT_EQ(SYS_Str2Uri(empty, target), empty);
  EXPECT_EQ(SYS_Uri2Str(empty, target), empty);
  EXPECT_STREQ(target, "keep");
  EXPECT_EQ(SYS_Str2Uri(nullptr, target), nullptr);
  EXPECT_EQ(SYS_Uri2Str(nullptr, target), nullptr);
  EXPECT_EQ(SYS_Str2Uri("a", nullptr), nullptr);
  EXPECT_EQ(SYS_Uri2Str("a", nullptr), nullptr);
}

}  // namespace
