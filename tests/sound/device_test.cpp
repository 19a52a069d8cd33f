// Sound system start-up on OpenAL Soft's wave writer: the mode word, the
// refused modes, and the information lines the log gets.
#include <gtest/gtest.h>

#include <AL/al.h>
#include <AL/alc.h>

#include "base/base.h"
#include "sound/fss.h"
#include "support.h"

using namespace soundtest;

namespace {

class SoundDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wav = UseWaveOutput();
    StartFramework();
  }
  std::string wav;
};

// Only the low two bytes count: the rate selector and the layout.
TEST_F(SoundDeviceTest, ModeSelectsRateAndLayout) {
  struct Case { int mode; int rate; };
  const Case cases[] = {{515, 44100}, {0x103, 44100}, {0x70103, 44100}, {0x7F000203, 44100},
                        {0x101, 11025}, {0x202, 22050}, {0x204, 48000}, {0x105, 88200}, {0x206, 96000}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(FSS_Init(c.mode), 0);
    ALCcontext *context = alcGetCurrentContext();
    ASSERT_NE(context, nullptr);
    ALCdevice *device = alcGetContextsDevice(context);
    ALCint rate = 0;
    alcGetIntegerv(device, ALC_FREQUENCY, 1, &rate);
    EXPECT_EQ(rate, c.rate);
    // The context was asked for a source of the chosen layout: one can be made.
    ALuint source = 0;
    alGenSources(1, &source);
    EXPECT_EQ(alGetError(), AL_NO_ERROR);
    alDeleteSources(1, &source);
    EXPECT_EQ(FSS_Done(), 0);
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    // The device really ran at that rate: the wave writer says so.
    Pcm written;
    ASSERT_TRUE(ReadWav(wav, written));
    EXPECT_EQ(written.rate, c.rate);
    EXPECT_EQ(written.channels, 2);
  }
  // A second FSS_Done has nothing left to close.
  EXPECT_EQ(FSS_Done(), 0);
}

// A bad layout (or a rate selector without table entry) fails with 10 after
// the "initialize..." line alone, before anything is opened.
TEST_F(SoundDeviceTest, RefusedModesOpenNothing) {
  for (int mode : {3, 0x303, 0x7000003, 0x200, 0x207, 0x2FF, 0}) {
    SCOPED_TRACE(mode);
    const long mark = LogMark();
    errClear();
    EXPECT_EQ(FSS_Init(mode), -1);
    EXPECT_EQ(errGetLastError(), 10);
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    const auto lines = Lines(LogSince(mark));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("[fss][fss.cpp:", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(":FSS_Init()] initialize..."), std::string::npos) << lines[0];
  }
}

TEST_F(SoundDeviceTest, InitWritesTheInformationLinesInOrder) {
  const long mark = LogMark();
  ASSERT_EQ(FSS_Init(515), 0);
  const std::string vendor = alGetString(AL_VENDOR), version = alGetString(AL_VERSION);
  const std::string renderer = alGetString(AL_RENDERER), extensions = alGetString(AL_EXTENSIONS);
  const std::string device = alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
  const std::string fallback = alcGetString(nullptr, ALC_DEFAULT_DEVICE_SPECIFIER);
  ALCint major = 0, minor = 0;
  alcGetIntegerv(alcGetContextsDevice(alcGetCurrentContext()), ALC_MAJOR_VERSION, 1, &major);
  alcGetIntegerv(alcGetContextsDevice(alcGetCurrentContext()), ALC_MINOR_VERSION, 1, &minor);
  const std::string alc_extensions = alcGetString(alcGetContextsDevice(alcGetCurrentContext()), ALC_EXTENSIONS);
  ASSERT_EQ(FSS_Done(), 0);

  const auto lines = Lines(LogSince(mark));
  const std::vector<std::string> expected = {
      "initialize...",
      " - default device: " + fallback,
      " - device specifier: " + device,
      " - ALC version: " + std::to_string(major) + "." + std::to_string(minor),
      " - ALC extensions: " + alc_extensions,
      " - AL vendor: " + vendor,
      " - AL version: " + version,
      " - AL renderer: " + renderer,
      " - AL extensions: " + extensions,
      " - AL speed of sound: 343.30",
  };
  ASSERT_EQ(lines.size(), expected.size()) << LogSince(mark);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("[fss][fss.cpp:", 0), 0u) << lines[i];
    const std::string tail = ":FSS_Init()] " + expected[i];
    EXPECT_TRUE(lines[i].size() >= tail.size() && lines[i].compare(lines[i].size() - tail.size(), tail.size(), tail) == 0)
        << lines[i] << "\nwanted the end: " << tail;
  }
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 1);
}

}  // namespace
