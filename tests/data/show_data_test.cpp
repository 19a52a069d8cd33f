// The show's data as the build leaves it: the pack archive beside the show's
// executable mounts with the file layer and serves the sound track; the track
// decodes with the framework's Vorbis reader as 44100 Hz stereo that lasts
// the whole show, sounds in every pattern and hits on every beat flash; and
// the tool that synthesises it gives the same bytes on every run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/file.h"
#include "sound/vorbis.h"

namespace {

namespace fs = std::filesystem;

// The show's clock: 13 patterns of 5178 ms, 64 steps of 80.9 ms each, a flash
// on steps 8, 24, 40 and 56 of every pattern from 0 to 10, the end at 67314 ms.
constexpr int kShowEndMs = 67314;
constexpr int kPatternMs = 5178;
constexpr double kStepMs = 80.9;
constexpr int kPatterns = 13;
constexpr int kFlashPatterns = 11;
constexpr int kFlashSteps[] = {8, 24, 40, 56};
constexpr int kRate = 44100;

class FrameworkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { SYS_BaseInit(nullptr, 0, nullptr, nullptr); }
  void TearDown() override { SYS_BaseDone(); }
};
::testing::Environment *const g_environment = ::testing::AddGlobalTestEnvironment(new FrameworkEnvironment);

// The decoded track, mixed to mono, as floats in -1..1.
struct Decoded {
  int rate = 0;
  int channels = 0;
  int size = 0;  // decoded bytes the stream announces
  std::vector<float> left, right;
  int full_scale = 0;  // samples at the 16-bit limits
  long frames() const { return static_cast<long>(left.size()); }
};

std::vector<std::uint8_t> ReadDisk(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte of a file as the file layer serves it.
std::vector<std::uint8_t> ReadThroughFileLayer(const char *name) {
  std::vector<std::uint8_t> bytes;
  SYS_File_t *file = SYS_FileOpen(name, 0);
  if (!file) return bytes;
  std::uint8_t chunk[65536];
  int got;
  while ((got = SYS_FileRead(file, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  SYS_FileClose(file);
  return bytes;
}

struct ToolRun {
  int status = -1;
  std::string output;  // standard output and standard error together
};

ToolRun Tool(const std::string &arguments) {
  ToolRun r;
  FILE *pipe = popen((std::string(SOUNDTRACK_TOOL) + " " + arguments + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) r.output.append(chunk, got);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class ShowPack : public ::testing::Test {
 protected:
  void SetUp() override {
    // Packs stay mounted for the life of the process: mount once.
    static const int mounted = SYS_FilePackOpen(SHOW_PACK);
    ASSERT_EQ(mounted, 0) << SHOW_PACK << " does not mount";
  }

  // The track from the pack, decoded once per process.
  static const Decoded &Track() {
    static const Decoded decoded = [] {
      Decoded d;
      Vorbis_t *stream = Vorbis_Open("demo.ogg");
      if (!stream) return d;
      d.rate = stream->rate;
      d.channels = stream->channels;
      d.size = stream->size;
      if (d.channels == 2 && d.size > 0) {
        auto *pcm = static_cast<std::int16_t *>(Vorbis_Decode(stream));
        if (pcm) {
          const long frames = d.size / 4;
          d.left.resize(frames);
          d.right.resize(frames);
          for (long i = 0; i < frames; ++i) {
            d.left[i] = pcm[2 * i] / 32768.0f;
            d.right[i] = pcm[2 * i + 1] / 32768.0f;
            for (int c = 0; c < 2; ++c)
              if (pcm[2 * i + c] == 32767 || pcm[2 * i + c] == -32768) ++d.full_scale;
          }
          SYS_MemFree(pcm);
        }
      }
      Vorbis_Close(stream);
      return d;
    }();
    return decoded;
  }
};

TEST_F(ShowPack, ServesTheTrackFromTheArchive) {
  // The scratch directory holds no track of its own: whatever opens comes from the pack.
  ASSERT_FALSE(fs::exists("demo.ogg"));
  SYS_Pack_t *pack = SYS_FindPack("demo.ogg");
  ASSERT_NE(pack, nullptr);
  EXPECT_STREQ(pack->path, SHOW_PACK);
  SYS_File_t *file = SYS_FileOpen("demo.ogg", 0);
  ASSERT_NE(file, nullptr) << errGetLastError();
  EXPECT_STREQ(file->handler->name, "Pack handler");
  SYS_FileClose(file);
  // An opened pack entry is held in memory whole: the track stays modest.
  const int size = SYS_FileSize("demo.ogg");
  EXPECT_GT(size, 0);
  EXPECT_LT(size, 4 << 20);
}

TEST_F(ShowPack, TrackIsStereoAt44100AndOutlastsTheShow) {
  const Decoded &track = Track();
  ASSERT_EQ(track.rate, kRate);
  ASSERT_EQ(track.channels, 2);
  ASSERT_GT(track.size, 0);
  EXPECT_EQ(track.size % 4, 0);
  const double ms = track.frames() * 1000.0 / kRate;
  EXPECT_GE(ms, kShowEndMs);
  // It ends with the show, not long after.
  EXPECT_LE(ms, kShowEndMs + 1000);
  // Scaled below full scale: the encoding never clips.
  EXPECT_EQ(track.full_scale, 0);
}

TEST_F(ShowPack, TrackSoundsInEveryPatternOnBothSides) {
  const Decoded &track = Track();
  ASSERT_GE(track.frames() * 1000L / kRate, kShowEndMs);
  for (int p = 0; p < kPatterns; ++p) {
    const long from = std::lround(p * kPatternMs / 1000.0 * kRate);
    const long to = std::min(track.frames(), std::lround((p + 1) * kPatternMs / 1000.0 * kRate));
    double left = 0, right = 0;
    for (long i = from; i < to; ++i) {
      left += track.left[i] * track.left[i];
      right += track.right[i] * track.right[i];
    }
    const double n = static_cast<double>(to - from);
    // -40 dBFS: quieter would be silence to a listener at any sensible volume.
    EXPECT_GT(10 * std::log10(left / n), -40.0) << "pattern " << p;
    EXPECT_GT(10 * std::log10(right / n), -40.0) << "pattern " << p;
  }
}

// The picture flashes at the first millisecond of steps 8, 24, 40 and 56 of
// patterns 0 to 10; the track must hit there: the low band (where the kick
// lives) is far louder just after each flash than just before it.
TEST_F(ShowPack, KickLandsOnEveryFlash) {
  const Decoded &track = Track();
  ASSERT_GE(track.frames() * 1000L / kRate, kShowEndMs);
  // Two one-pole low-passes at 120 Hz over the mono mix.
  std::vector<float> low(track.frames());
  const double a = 1 - std::exp(-2 * M_PI * 120.0 / kRate);
  double s1 = 0, s2 = 0;
  for (long i = 0; i < track.frames(); ++i) {
    s1 += a * (0.5 * (track.left[i] + track.right[i]) - s1);
    s2 += a * (s1 - s2);
    low[i] = static_cast<float>(s2);
  }
  auto energy = [&](long from, long to) {
    double e = 0;
    for (long i = from; i < to; ++i) e += low[i] * low[i];
    return e / static_cast<double>(to - from) + 1e-12;
  };
  const long ms = kRate / 1000;
  for (int p = 0; p < kFlashPatterns; ++p) {
    for (int step : kFlashSteps) {
      const int flash_ms = p * kPatternMs + static_cast<int>(std::ceil(step * kStepMs));
      const long at = static_cast<long>(flash_ms) * kRate / 1000;
      const double before = energy(at - 62 * ms, at - 12 * ms);
      const double after = energy(at - 2 * ms, at + 48 * ms);
      EXPECT_GT(10 * std::log10(after / before), 6.0) << "pattern " << p << " step " << step << " (" << flash_ms
                                                       << " ms)";
    }
  }
}

TEST_F(ShowPack, ToolGivesTheSameBytesEveryRunAndThePackHoldsThem) {
  const ToolRun first = Tool("first.ogg");
  ASSERT_EQ(first.status, 0) << first.output;
  EXPECT_NE(first.output.find("first.ogg: 67.400 s of 44100 Hz stereo"), std::string::npos) << first.output;
  const ToolRun second = Tool("--quality 0.3 second.ogg");
  ASSERT_EQ(second.status, 0) << second.output;
  const std::vector<std::uint8_t> a = ReadDisk("first.ogg"), b = ReadDisk("second.ogg");
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b) << "two runs differ: " << a.size() << " and " << b.size() << " bytes";
  EXPECT_TRUE(ReadThroughFileLayer("demo.ogg") == a) << "the pack holds another track than the tool makes";
  // Nothing is left behind but the two tracks.
  int files = 0;
  for (const auto &entry : fs::directory_iterator(".")) files += entry.path().extension() != ".log";
  EXPECT_EQ(files, 2);
}

TEST(SoundtrackTool, RefusesBadCommandLinesAndLeavesNoFile) {
  struct Case {
    const char *arguments;
    int status;
    const char *message;
  };
  const Case cases[] = {
      {"", 2, "no output file given"},
      {"--quality", 2, "--quality needs a value"},
      {"--quality 1.5 x.ogg", 2, "--quality needs a value"},
      {"--quality abc x.ogg", 2, "--quality needs a value"},
      {"--loud x.ogg", 2, "unknown option --loud"},
      {"x.ogg y.ogg", 2, "only one output file"},
      {"no-such-folder/x.ogg", 1, "no-such-folder/x.ogg: cannot be created"},
  };
  for (const Case &c : cases) {
    const ToolRun run = Tool(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
    EXPECT_TRUE(fs::is_empty(".")) << c.arguments;
  }
  const ToolRun help = Tool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: mksoundtrack"), std::string::npos) << help.output;
}

}  // namespace
