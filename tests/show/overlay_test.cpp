// The overlay's text without GL: the status line, the beat bar and the
// frame-rate counter fed with show times.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "show/overlay.h"

namespace {

using namespace std::string_literals;

TEST(StatusLine, JoinsClockFrameRateStepAndPattern) {
  const std::string rate = "FPS : [59.94]\0"s;
  struct Case {
    std::int32_t t, step, pattern;
    std::string line;
  };
  const Case cases[] = {
      {12345, 9, 2, "12345 frame : 308 FPS : [59.94]\0 9 / 2"s},
      {0, 0, 0, "0 frame : 0 FPS : [59.94]\0 0 / 0"s},
      {39, 15, 1, "39 frame : 0 FPS : [59.94]\0 15 / 1"s},
      {67313, 3, 24, "67313 frame : 1682 FPS : [59.94]\0 3 / 24"s},
      {-1, -2, -3, "-1 frame : 0 FPS : [59.94]\0 -2 / -3"s},
  };
  for (const Case &c : cases) {
    const ShortString line = StatusLine(c.t, c.step, c.pattern, rate);
    EXPECT_EQ(std::string(line.view()), c.line) << "t = " << c.t;
  }
}

TEST(StatusLine, IsCutTo255Characters) {
  const std::string rate(250, 'x');
  const ShortString line = StatusLine(12345, 9, 2, rate);
  EXPECT_EQ(line.size(), 255u);
  EXPECT_EQ(std::string(line.view()), ("12345 frame : 308 " + rate).substr(0, 255));
}

TEST(BeatBar, IsSixteenthsOfTheFlashRoundedHalfToEven) {
  struct Case {
    float flash;
    std::size_t n;
  };
  const Case cases[] = {
      {1.0f, 16},       {0.5f, 8},     {0.0f, 0},      {-0.5f, 0},    {0.03125f, 0},  // 0.5: to even 0
      {0.09375f, 2},    // 1.5: to even 2
      {0.15625f, 2},    // 2.5: to even 2
      {0.03f, 0},       {0.04f, 1},    {1.3125f, 21},  {1.375f, 22},  {1.40625f, 22},  // 22.5
      {1.5f, 22},       {100.0f, 22},  {std::numeric_limits<float>::infinity(), 22},
      {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case &c : cases) {
    const auto bar = BeatBar(c.flash);
    EXPECT_EQ(std::string(bar.view()), std::string(c.n, '=')) << "flash " << c.flash;
  }
}

// Frames counted at these show times leave this rate text.
TEST(FrameRate, CountsFramesOverAtLeast200Milliseconds) {
  struct Case {
    const char *what;
    std::vector<std::int32_t> times;
    const char *text;
  };
  auto frames = [](int n, std::int32_t from, std::int32_t every) {
    std::vector<std::int32_t> t;
    for (int i = 1; i <= n; ++i) t.push_back(from + i * every);
    return t;
  };
  // 13 frames by 200 ms (an update), then 12 more by 404 ms: 12 over 204 ms.
  std::vector<std::int32_t> twice = frames(12, 0, 16);
  twice.push_back(200);
  for (std::int32_t t : frames(12, 200, 17)) twice.push_back(t);
  // 2997 frames over 50 s.
  std::vector<std::int32_t> slow(2996, 100);
  slow.push_back(50000);
  const Case cases[] = {
      {"no frame yet", {}, "0"},
      {"198 ms is not yet an update", frames(11, 0, 18), "0"},
      {"12 frames over 200 ms", {10, 30, 50, 70, 90, 110, 130, 150, 170, 185, 195, 200}, "60.00"},
      {"one frame after exactly 200 ms", {200}, "5.00"},
      {"rounded down to two decimals", {300}, "3.33"},
      {"rounded up to two decimals", {100, 300}, "6.67"},
      {"2997 frames over 50 s", slow, "59.94"},
      {"the count restarts after an update", twice, "58.82"},
  };
  for (const Case &c : cases) {
    ResetFrameRate();
    for (std::int32_t t : c.times) CountFrame(t);
    EXPECT_EQ(std::string(showOverlay.rateText.view()), c.text) << c.what;
  }
}

TEST(FrameRate, TheRateLineWrapsTheTextAndEndsInCodeZero) {
  ResetFrameRate();
  CountFrame(5);
  EXPECT_EQ(std::string(showOverlay.rateLine.view()), "FPS : [0]\0"s);
  for (int i = 0; i < 11; ++i) CountFrame(100);
  CountFrame(200);
  EXPECT_EQ(std::string(showOverlay.rateLine.view()), "FPS : [65.00]\0"s);
  EXPECT_EQ(showOverlay.frames, 0);
  EXPECT_EQ(showOverlay.lastUpdate, 200);
}

// After the clock is moved back the elapsed time is negative: the text stays
// until the clock passes the old update time by 200 ms, and every frame in
// between counts.
TEST(FrameRate, AClockMovedBackKeepsTheTextUntilItPassesTheOldUpdate) {
  ResetFrameRate();
  for (std::int32_t t = 1000; t <= 10000; t += 250) CountFrame(t);  // updates at 1000, 1250, ... 10000
  ASSERT_EQ(showOverlay.lastUpdate, 10000);
  const std::string before(showOverlay.rateText.view());
  ASSERT_EQ(before, "4.00");

  int counted = 0;
  for (std::int32_t t = 5000; t < 10200; t += 100, ++counted) {  // moved back by five seconds
    CountFrame(t);
    ASSERT_EQ(std::string(showOverlay.rateText.view()), before) << "t = " << t;
    ASSERT_EQ(showOverlay.lastUpdate, 10000);
  }
  CountFrame(10200);  // 53 frames over 200 ms
  EXPECT_EQ(counted + 1, 53);
  EXPECT_EQ(std::string(showOverlay.rateText.view()), "265.00");
  EXPECT_EQ(showOverlay.lastUpdate, 10200);
}

}  // namespace
