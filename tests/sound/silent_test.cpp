// No output device at all (OpenAL Soft finds no back end): the sound system
// still starts and says plainly that nothing will be heard, and the show's
// track starts, runs silent and stops. A track that cannot be loaded is fatal.
#include <gtest/gtest.h>

#include <AL/alc.h>

#include "base/base.h"
#include "runtime/music.h"
#include "sound/fss.h"
#include "support.h"

using namespace soundtest;

namespace {

class SoundSilentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseNoOutput();
    StartFramework();
    ASSERT_TRUE(WriteOgg("demo.ogg", Chirp(2, 44100, 1.0)));
  }
};

TEST_F(SoundSilentTest, InitSucceedsAndLogsThatThereIsNoSound) {
  const long mark = LogMark();
  ASSERT_EQ(FSS_Init(515), 0);
  EXPECT_EQ(alcGetCurrentContext(), nullptr);
  const std::string log = LogSince(mark);
  EXPECT_NE(log.find(":FSS_Init()] initialize..."), std::string::npos) << log;
  EXPECT_NE(log.find("]  - default device: "), std::string::npos) << log;
  EXPECT_NE(log.find("]  - ALC version: 0.0"), std::string::npos) << log;
  EXPECT_NE(log.find("]  - AL speed of sound: 0.00"), std::string::npos) << log;
  EXPECT_NE(log.find("[wrn][fss][fss.cpp:"), std::string::npos) << log;
  EXPECT_NE(log.find("]  ! no sound device could be opened: running without sound"), std::string::npos) << log;
  EXPECT_EQ(FSS_Done(), 0);
}

TEST_F(SoundSilentTest, MusicPlaysSilentlyAndStops) {
  ASSERT_EQ(FSS_Init(515), 0);
  const long mark = LogMark();
  FSS_Music_t *music = FSS_NewMusic(0, "demo.ogg", 0);
  ASSERT_NE(music, nullptr);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_PLAYING);
  ASSERT_TRUE(WaitFor([&] { return LogSince(mark).find("is not heard") != std::string::npos; }));
  EXPECT_NE(LogSince(mark).find("] [_FSS_MusicPlayer] no sound device: \"demo.ogg\" is not heard"), std::string::npos);
  EXPECT_EQ(FSS_SetMusicTime(music, 500), 0);
  EXPECT_EQ(FSS_PauseMusic(music), 0);
  EXPECT_EQ(FSS_PlayMusic(music), 0);
  EXPECT_EQ(FSS_StopMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_STOPPED);
  EXPECT_EQ(FSS_FreeMusic(music), 0);
  EXPECT_EQ(FSS_Done(), 0);
}

// The show's start and stop of its track, as the show calls them.
TEST_F(SoundSilentTest, ShowTrackStartsAndStops) {
  StartMusic("demo.ogg");
  ASSERT_NE(showMusic, nullptr);
  EXPECT_EQ(FSS_GetMusicState(showMusic), FSS_PLAYING);
  EXPECT_EQ(FSS_SetMusicTime(showMusic, 250), 0);
  StopMusic();
  EXPECT_EQ(showMusic, nullptr);
}

TEST_F(SoundSilentTest, ShowTrackThatCannotBeLoadedIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartMusic("no-such-track.ogg"), ::testing::ExitedWithCode(0), "Unable to load music\\.");
  ASSERT_TRUE(WriteBytes("broken.ogg", {'O', 'g', 'g', 'S', 0, 2, 0, 0}));
  EXPECT_EXIT(StartMusic("broken.ogg"), ::testing::ExitedWithCode(0), "Unable to load music\\.");
}

}  // namespace
