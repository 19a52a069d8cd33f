// The show's timeline: pattern, step and beat flash from the clock, and the
// schedule of each pattern checked draw by draw through a recorder that
// stands in for the GL draw operations.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "show/timeline.h"

namespace {

// What the schedule asked for, in order: an interface at a time, a copy of
// the back buffer, or the bars at a clock value.
struct Call {
  std::string what;
  float t;
  bool operator==(const Call &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Call &c) { return out << c.what << "@" << c.t; }

class Recorder final : public ShowDrawOps {
 public:
  explicit Recorder(const ShowData &data) : data_(data) {}
  void Draw(const ife_interface &ife, float t) override { calls.push_back({Role(ife), t}); }
  void Copy(std::int32_t texture) override {
    EXPECT_EQ(texture, data_.framebufferTexture);
    calls.push_back({"copy", 0});
  }
  void Bars(std::int32_t texture, std::int32_t t) override {
    EXPECT_EQ(texture, data_.barTexture);
    calls.push_back({"bars", static_cast<float>(t)});
  }
  std::vector<Call> calls;

 private:
  std::string Role(const ife_interface &ife) const {
    struct Named { const ife_interface *ife; const char *role; };
    const Named roles[] = {
        {&data_.vBlur, "vblur"},           {&data_.hBlur, "hblur"},     {&data_.rotate, "rotate"},
        {&data_.rotozoomer, "roto"},       {&data_.background, "back"}, {&data_.logo, "logo"},
        {&data_.overlay, "overlay"},       {&data_.oops, "oops"},       {&data_.whiteFlash, "flash"},
        {&data_.fourByFour, "4x4"},        {&data_.rotozoomer2, "roto2"}, {&data_.end, "end"},
    };
    for (const Named &n : roles)
      if (n.ife == &ife) return n.role;
    return "?";
  }
  const ShowData &data_;
};

float F(long double v) { return static_cast<float>(v); }

class Timeline : public ::testing::Test {
 protected:
  void SetUp() override {
    data.barTexture = 7;
    data.framebufferTexture = 9;
  }
  // One frame at clock t: the pattern state, then the schedule.
  std::vector<Call> Frame(std::int32_t t) {
    UpdateTimeline(timeline, t);
    Recorder recorder(data);
    DrawSchedule(timeline, t, data, recorder);
    return recorder.calls;
  }
  ShowData data{};
  ShowTimeline timeline{};
};

// The core block of patterns 1 to 10 at clock t, with its conditions.
std::vector<Call> Core(std::int32_t t) {
  const int pattern = t / 5178;
  std::vector<Call> c{{"back", F((t - 5178) / 5.178L)}};
  if (pattern >= 2) c.push_back({"roto", F((t % 50000) / 50.0L)});
  c.push_back({"overlay", F((t - 5178) / 5.178L)});
  c.push_back({"logo", F(t / 10.356L)});
  c.push_back({"bars", F(t)});
  if (pattern >= 3) c.push_back({"oops", F(500 * std::sin(t / 1000.0L) + 500)});
  if (pattern >= 2) c.push_back({"flash", F(t - 10356)});
  if (pattern >= 3) c.push_back({"flash", F(t - 15534)});
  return c;
}

std::vector<Call> Plus(std::vector<Call> a, const std::vector<Call> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Timeline, PatternStepAndFlashFollowTheClock) {
  struct Case { std::int32_t t; int pattern, step; };
  for (const Case c : {Case{0, 0, 0}, Case{647, 0, 7}, Case{648, 0, 8}, Case{5177, 0, 63}, Case{5178, 1, 0},
                       Case{5178 + 647, 1, 7}, Case{5178 + 648, 1, 8}, Case{12345, 2, 24}, Case{67313, 12, 63}}) {
    SCOPED_TRACE(c.t);
    UpdateTimeline(timeline, c.t);
    EXPECT_EQ(timeline.showPattern, c.pattern);
    EXPECT_EQ(timeline.showStep, c.step);
  }
}

TEST_F(Timeline, FlashHoldsForTheStepThenFallsWithin200Ms) {
  // The show opens with a decay from 1: both values start at 0.
  UpdateTimeline(timeline, 0);
  EXPECT_FLOAT_EQ(timeline.showFlash, 1);
  UpdateTimeline(timeline, 100);
  EXPECT_FLOAT_EQ(timeline.showFlash, 0.5);
  UpdateTimeline(timeline, 647);
  EXPECT_FLOAT_EQ(timeline.showFlash, 0);
  // Steps 8, 24, 40 and 56 hold it at 1 and restart the decay on every frame.
  for (std::int32_t t : {648, 700, 728}) {
    UpdateTimeline(timeline, t);
    EXPECT_FLOAT_EQ(timeline.showFlash, 1) << t;
    EXPECT_FLOAT_EQ(timeline.showFlashStart, static_cast<float>(t));
  }
  UpdateTimeline(timeline, 828);  // step 10
  EXPECT_FLOAT_EQ(timeline.showFlash, 0.5);
  UpdateTimeline(timeline, 1000);
  EXPECT_FLOAT_EQ(timeline.showFlash, 0);
  // Steps 24, 40, 56 of a later pattern.
  for (int step : {24, 40, 56}) {
    const auto t = static_cast<std::int32_t>(5178 * 4 + std::ceil(step * 80.9));
    UpdateTimeline(timeline, t);
    EXPECT_FLOAT_EQ(timeline.showFlash, 1) << step;
  }
}

TEST_F(Timeline, ClockMovedBackGivesAFlashAboveOne) {
  UpdateTimeline(timeline, 5178 * 5 + 648);  // the first flash step of pattern 5
  ASSERT_EQ(timeline.showStep, 8);
  const float start = timeline.showFlashStart;
  // One second back, outside a flash step: 1 + 1000 / 200 = 6, not clamped.
  UpdateTimeline(timeline, static_cast<std::int32_t>(start) - 1000);
  ASSERT_NE(timeline.showStep % 16, 8);
  EXPECT_FLOAT_EQ(timeline.showFlash, 6);
  Recorder recorder(data);
  DrawSchedule(timeline, static_cast<std::int32_t>(start) - 1000, data, recorder);
  EXPECT_GT(recorder.calls.size(), 0u);
}

TEST_F(Timeline, EachPatternDrawsItsScheduleInOrder) {
  struct Case { const char *name; std::int32_t t; std::vector<Call> want; };
  auto intro = [](std::int32_t t, float flash) {
    return std::vector<Call>{{"logo", F(t / 10.356L)}, {"flash", F(1000 - (1000.0L * flash) / 2)}};
  };
  auto blur = [](std::int32_t t, float flash) {
    return std::vector<Call>{{"copy", 0}, {"hblur", F(1000.0L * flash)}, {"copy", 0},
                             {"vblur", F(1000.0L * flash)}, {"flash", F(t - 36246)}};
  };
  auto tiles = [](std::int32_t t) {
    return std::vector<Call>{{"copy", 0}, {"4x4", 0}, {"copy", 0}, {"roto2", F(t / 66.0L)}, {"flash", F(t - 46602)}};
  };
  // Each frame starts from a fresh timeline: the flash has decayed to 0 except on flash steps.
  const std::vector<Case> cases = {
      {"pattern 0", 3000, intro(3000, 0)},
      {"last frame of pattern 0", 5177, intro(5177, 0)},
      {"first frame of pattern 1: background at 0, no rotozoomer", 5178,
       {{"back", 0}, {"overlay", 0}, {"logo", 500}, {"bars", 5178}}},
      {"pattern 1", 7000, Core(7000)},
      {"pattern 2", 12345, Core(12345)},
      {"pattern 3", 17000, Core(17000)},
      {"pattern 4, no left square yet", 20712, Core(20712)},
      {"pattern 4, square 0", 20713, Core(20713)},
      {"pattern 7", 37000, Plus(Core(37000), blur(37000, 0))},
      {"pattern 9", 48000, Plus(Core(48000), tiles(48000))},
      {"pattern 11: the end only", 57500, {{"end", F((57500 - 56958) / 10.5L)}}},
      {"pattern 12: the end only", 66000, {{"end", F((66000 - 56958) / 10.5L)}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    timeline = {};
    EXPECT_EQ(Frame(c.t), c.want);
  }
}

TEST_F(Timeline, FlashDrivesTheIntroAndTheBlurs) {
  UpdateTimeline(timeline, 5178 * 7);
  // 648 ms into pattern 7: a flash step, the blurs at 1000.
  const std::vector<Call> calls = Frame(5178 * 7 + 648);
  ASSERT_GE(calls.size(), 5u);
  const std::vector<Call> tail(calls.end() - 5, calls.end());
  EXPECT_EQ(tail, (std::vector<Call>{{"copy", 0}, {"hblur", 1000}, {"copy", 0}, {"vblur", 1000},
                                     {"flash", F(5178 * 7 + 648 - 36246)}}));
  // In the intro, full flash puts the white flash at 500.
  timeline = {};
  EXPECT_EQ(Frame(648), (std::vector<Call>{{"logo", F(648 / 10.356L)}, {"flash", 500}}));
}

TEST_F(Timeline, BarsGrowOneSquareEvery161MsAndSway) {
  BarSquare squares[SHOW_BAR_SQUARES];
  // The tests are strict: nothing at the start of pattern 4, square 0 one ms later.
  EXPECT_EQ(BarSquares(20712, squares), 0);
  ASSERT_EQ(BarSquares(20713, squares), 1);
  EXPECT_FLOAT_EQ(squares[0].x, F(16 * std::sin(20713 / 400.0L) + 144));
  EXPECT_FLOAT_EQ(squares[0].y, 12);
  EXPECT_EQ(BarSquares(20712 + 161, squares), 1);
  EXPECT_EQ(BarSquares(20712 + 162, squares), 2);
  EXPECT_FLOAT_EQ(squares[1].y, 30);
  // The right column from pattern 5, from the top down.
  const int left = BarSquares(25890, squares);
  EXPECT_EQ(left, 32);
  ASSERT_EQ(BarSquares(25891, squares), 33);
  EXPECT_FLOAT_EQ(squares[32].x, F(770 - 10 * std::sin(25891 / 500.0L)));
  EXPECT_FLOAT_EQ(squares[32].y, 574);
  // Both full: 64 squares, each column within its sway.
  ASSERT_EQ(BarSquares(40000, squares), 64);
  for (int i = 0; i < 64; ++i) {
    const float centre = i < 32 ? 144 : 770, sway = i < 32 ? 16 : 10;
    EXPECT_LE(std::fabs(squares[i].x - centre), sway + 1e-3) << i;
  }
  EXPECT_FLOAT_EQ(squares[31].y, 18 * 31 + 12);
  EXPECT_FLOAT_EQ(squares[63].y, 574 - 18 * 31);
}

}  // namespace
