// What the music player makes heard, read back from OpenAL Soft's wave
// writer and compared with the decoded stream: plain files and pack
// archives, short streams with and without loop, seeks, volume, pause, a
// source that ran dry, and the player's life cycle.
#include <gtest/gtest.h>

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <atomic>
#include <cmath>

#include "base/base.h"
#include "base/file.h"
#include "sound/fss.h"
#include "support.h"

using namespace soundtest;

namespace {

// Frames of one 32768-byte buffer.
long BufferFrames(int channels) { return 32768 / (2 * channels); }

// Counts the fills of a record and can hold one of them back, to starve the source.
std::atomic<int> g_fills{0};
std::atomic<int> g_hold_fill{-1};  // index of the fill to delay, -1 none
FSS_MusicFill_t g_real_fill = nullptr;

int WatchedFill(FSS_Music_t *music, unsigned buffer) {
  const int index = g_fills.fetch_add(1);
  if (index == g_hold_fill.load()) SleepMs(1500);  // far longer than the 0.74 s queued
  return g_real_fill(music, buffer);
}

// Played audio with the silent stretches (pauses, a dry source) taken out.
Pcm WithoutGaps(const Pcm &played, long from) {
  Pcm out;
  out.channels = played.channels;
  out.rate = played.rate;
  const long frames = static_cast<long>(played.frames());
  auto silent = [&](long f) {
    for (int c = 0; c < played.channels; ++c)
      if (played.samples[f * played.channels + c] != 0.0f) return false;
    return true;
  };
  for (long f = std::max(from, 0L); f < frames;) {
    long run = 0;
    while (f + run < frames && silent(f + run)) ++run;
    if (run >= 32) {  // a gap, not a zero crossing
      f += run;
      continue;
    }
    for (long i = 0; i < std::max(run, 1L) && f < frames; ++i, ++f)
      for (int c = 0; c < played.channels; ++c) out.samples.push_back(played.samples[f * played.channels + c]);
  }
  return out;
}

class SoundPlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wav = UseWaveOutput();
    StartFramework();
    g_fills = 0;
    g_hold_fill = -1;
  }
  void TearDown() override {
    if (music) FSS_FreeMusic(music);
    if (open) FSS_Done();
  }

  // Starts the device and loads name; stereo plays straight to the two
  // output channels (no virtual speakers) so samples compare one to one.
  FSS_Music_t *Load(const char *name) {
    EXPECT_EQ(FSS_Init(515), 0);
    open = true;
    music = FSS_NewMusic(0, name, 0);
    if (!music) return nullptr;
    alSourcei(music->source, AL_DIRECT_CHANNELS_SOFT, AL_TRUE);
    g_real_fill = music->fill;
    music->fill = WatchedFill;
    return music;
  }

  // Frees the record, closes the device and reads what was written.
  Pcm Heard() {
    restarts = music ? music->restarts : 0;
    if (music) FSS_FreeMusic(music);
    music = nullptr;
    FSS_Done();
    open = false;
    Pcm played;
    EXPECT_TRUE(ReadWav(wav, played));
    EXPECT_EQ(played.channels, 2);
    EXPECT_EQ(played.rate, 44100);
    return played;
  }

  bool WaitState(int state) {
    return WaitFor([&] { return FSS_GetMusicState(music) == state; });
  }
  bool WaitSource(ALint state) {
    return WaitFor([&] {
      ALint s = 0;
      alGetSourcei(music->source, AL_SOURCE_STATE, &s);
      return s == state;
    });
  }

  // Where the stream's frame `start` is heard first, from the first sound on.
  Match LocateStart(const Pcm &played, const Pcm &ref, long start = 0) {
    const long first = FirstSound(played);
    EXPECT_GE(first, 0) << "nothing was heard";
    return Locate(played, ref, start, 2048, first - 256, first + 256);
  }

  // The heard audio without its silent stretches. A silent stretch inside the
  // music is only allowed where the player was starved by the machine (a box
  // too busy to run it for the 0.74 s queued) and started the source again.
  Pcm Joined(const Pcm &played) {
    const Pcm joined = WithoutGaps(played, 0);
    const long first = FirstSound(played);
    long last = static_cast<long>(played.frames()) - 1;
    while (last > first && played.samples[last * 2] == 0.0f && played.samples[last * 2 + 1] == 0.0f) --last;
    const long inside = first < 0 ? 0 : last - first + 1;
    const long removed = inside - static_cast<long>(joined.frames());
    EXPECT_TRUE(removed == 0 || restarts > 0) << removed << " silent frames inside the music";
    return joined;
  }

  std::string wav;
  FSS_Music_t *music = nullptr;
  bool open = false;
  int restarts = 0;
};

// The audio heard is the decoded stream, sample for sample, from its start
// until the player stops at the end (the buffers still queued then are cut,
// as the player does): mono and stereo, plain file and pack archive.
TEST_F(SoundPlaybackTest, PlayedAudioIsTheDecodedStream) {
  const auto mono = EncodeOgg(Chirp(1, 44100, 2.2));
  const auto stereo = EncodeOgg(Chirp(2, 44100, 1.4));
  ASSERT_TRUE(WriteBytes("mono.ogg", mono));
  ASSERT_TRUE(WriteBytes("stereo.ogg", stereo));
  ASSERT_TRUE(WritePack("music.pack", {{"pack/mono.ogg", mono}, {"pack/stereo.ogg", stereo}}, true));
  ASSERT_EQ(SYS_FilePackOpen("music.pack"), 0);
  struct Case { const char *name; const char *plain; int channels; };
  for (const Case c : {Case{"mono.ogg", "mono.ogg", 1}, Case{"stereo.ogg", "stereo.ogg", 2},
                       Case{"pack/stereo.ogg", "stereo.ogg", 2}, Case{"pack/mono.ogg", "mono.ogg", 1}}) {
    SCOPED_TRACE(c.name);
    const Pcm ref = DecodeReference(c.plain);
    ASSERT_NE(Load(c.name), nullptr);
    ASSERT_EQ(FSS_PlayMusic(music), 0);
    EXPECT_EQ(FSS_GetMusicState(music), FSS_PLAYING);
    ASSERT_TRUE(WaitState(FSS_FINISHED));
    const Pcm played = Heard();

    EXPECT_GE(FirstSound(played), 0) << "nothing was heard";
    const Pcm joined = Joined(played);
    const Match at = LocateStart(joined, ref);
    ASSERT_EQ(at.offset, 0) << "sound before the stream";
    EXPECT_LT(at.error, 1e-4);
    if (c.channels == 2) {
      EXPECT_NEAR(at.gain[0], 1.0, 1e-4);
      EXPECT_NEAR(at.gain[1], 1.0, 1e-4);
    } else {
      // Mono sits in the middle: the same share on both sides.
      EXPECT_GT(at.gain[0], 0.5);
      EXPECT_NEAR(at.gain[0], at.gain[1], 1e-4);
    }
    // Everything heard is the stream, in order, and all of it but the cut end.
    const long run = MatchingRun(joined, 0, ref, 0, at.gain, 1e-4);
    const long total = static_cast<long>(ref.frames());
    EXPECT_GE(run, total - 4 * BufferFrames(c.channels)) << "of " << total;
    EXPECT_EQ(run, static_cast<long>(joined.frames())) << "something else was heard";
  }
}

// Under four buffers of PCM and no loop: the prefill meets the end, nothing
// is queued or heard, and the record finishes.
TEST_F(SoundPlaybackTest, ShortStreamWithoutLoopIsNeverHeard) {
  ASSERT_TRUE(WriteOgg("short.ogg", Chirp(2, 44100, 0.3)));
  const long mark = LogMark();
  ASSERT_NE(Load("short.ogg"), nullptr);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const std::string log = LogSince(mark);
  EXPECT_NE(log.find("] [_FSS_MusicPlayer] start playing..."), std::string::npos);
  EXPECT_EQ(log.find("prefilled buffers"), std::string::npos);
  EXPECT_NE(log.find("] [_FSS_MusicPlayer] stop playing..."), std::string::npos);
  const Pcm played = Heard();
  EXPECT_GT(played.frames(), 0u);
  EXPECT_TRUE(SilentFrom(played, 0));
}

// The same short stream looping: each fill that meets the end submits the
// short rest, the next one starts over, and the copies follow each other
// without a gap.
TEST_F(SoundPlaybackTest, ShortStreamWithLoopWrapsWithoutGap) {
  ASSERT_TRUE(WriteOgg("loop.ogg", Chirp(2, 44100, 0.3)));
  const Pcm ref = DecodeReference("loop.ogg");
  ASSERT_NE(Load("loop.ogg"), nullptr);
  ASSERT_EQ(FSS_SetMusicLoop(music, 1), 0);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  // Each refill follows a buffer played: 16 fills mean at least 12 buffers heard.
  ASSERT_TRUE(WaitFor([] { return g_fills.load() >= 16; }));
  EXPECT_EQ(FSS_GetMusicState(music), FSS_PLAYING);
  ASSERT_EQ(FSS_StopMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_STOPPED);
  const Pcm played = Heard();

  const Pcm joined = Joined(played);
  const Match at = LocateStart(joined, ref);
  ASSERT_EQ(at.offset, 0);
  ASSERT_LT(at.error, 1e-4);
  const long n = static_cast<long>(ref.frames());
  long heard = 0;
  for (; heard < static_cast<long>(joined.frames()); ++heard) {
    const long r = heard % n;
    if (std::fabs(joined.samples[heard * 2] - ref.samples[r * 2]) > 1e-4 ||
        std::fabs(joined.samples[heard * 2 + 1] - ref.samples[r * 2 + 1]) > 1e-4)
      break;
  }
  EXPECT_GE(heard, 3 * n) << "copies heard back to back: " << static_cast<double>(heard) / n;
  EXPECT_EQ(heard, static_cast<long>(joined.frames())) << "something else was heard";
}

// A time request on a playing record: what is queued plays first, then the
// music goes on from the requested time.
TEST_F(SoundPlaybackTest, SetMusicTimeMovesPlaybackAfterTheQueuedAudio) {
  ASSERT_TRUE(WriteOgg("seek.ogg", Chirp(2, 44100, 4.0)));
  const Pcm ref = DecodeReference("seek.ogg");
  ASSERT_NE(Load("seek.ogg"), nullptr);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitSource(AL_PLAYING));
  ASSERT_TRUE(WaitFor([] { return g_fills.load() >= 5; }));
  const long decoded = static_cast<long>(FSS_GetMusicPos(music) / 4);
  ASSERT_EQ(FSS_SetMusicTime(music, 3000), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const Pcm played = Heard();

  const Pcm joined = Joined(played);
  const Match at = LocateStart(joined, ref);
  ASSERT_EQ(at.offset, 0);
  ASSERT_LT(at.error, 1e-4);
  const long before = MatchingRun(joined, 0, ref, 0, at.gain, 1e-4);
  // The jump comes at a buffer's end: where the decoder stood at the
  // request (one buffer later if a refill came in between the two calls).
  EXPECT_EQ(before % 8192, 0);
  EXPECT_GE(before, decoded);
  EXPECT_LE(before, decoded + 2 * 8192);
  const long target = 3 * 44100;
  const Match jump = Locate(joined, ref, target, 2048, before - 64, before + 64);
  EXPECT_EQ(jump.offset, before);
  EXPECT_LT(jump.error, 1e-4);
  const long after = MatchingRun(joined, before, ref, target, at.gain, 1e-4);
  EXPECT_GE(after, 44100 - 4 * 8192);
  EXPECT_EQ(before + after, static_cast<long>(joined.frames())) << "something else was heard";
}

// Both requests made before the first fill: the position is applied, then
// the time, so the music starts at the time.
TEST_F(SoundPlaybackTest, PositionThenTimeBeforePlayStartsAtTheTime) {
  ASSERT_TRUE(WriteOgg("both.ogg", Chirp(2, 44100, 2.5)));
  const Pcm ref = DecodeReference("both.ogg");
  ASSERT_NE(Load("both.ogg"), nullptr);
  ASSERT_EQ(FSS_SetMusicPos(music, 44100 * 4), 0);
  ASSERT_EQ(FSS_SetMusicTime(music, 1000), 0);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const Pcm played = Heard();
  const Pcm joined = Joined(played);
  const Match at_time = Locate(joined, ref, 44100, 2048, 0, 1);
  EXPECT_LT(at_time.error, 1e-4);
  EXPECT_EQ(MatchingRun(joined, 0, ref, 44100, at_time.gain, 1e-4), static_cast<long>(joined.frames()));
  EXPECT_GE(joined.frames(), 44100u - 4 * 8192);
}

TEST_F(SoundPlaybackTest, VolumeKeepsToItsLimitsAndIsHeard) {
  ASSERT_TRUE(WriteOgg("volume.ogg", Chirp(2, 44100, 1.2)));
  const Pcm ref = DecodeReference("volume.ogg");
  ASSERT_NE(Load("volume.ogg"), nullptr);
  EXPECT_FLOAT_EQ(FSS_GetMusicVolume(music), 1.0f);
  struct Case { float gain; int result; float after; };
  const Case cases[] = {{0.0f, 0, 0.0f}, {1.5f, -1, 0.0f}, {1.0f, 0, 1.0f}, {-0.1f, -1, 1.0f},
                        {NAN, -1, 1.0f}, {0.25f, 0, 0.25f}, {1.0001f, -1, 0.25f}, {0.5f, 0, 0.5f}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.gain);
    errClear();
    EXPECT_EQ(FSS_SetMusicVolume(music, c.gain), c.result);
    EXPECT_EQ(errGetLastError(), c.result ? 10 : 0);
    EXPECT_FLOAT_EQ(FSS_GetMusicVolume(music), c.after);
  }
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const Pcm played = Heard();
  const Pcm joined = Joined(played);
  const Match at = LocateStart(joined, ref);
  ASSERT_EQ(at.offset, 0);
  EXPECT_NEAR(at.gain[0], 0.5, 1e-4);
  EXPECT_NEAR(at.gain[1], 0.5, 1e-4);
  EXPECT_GE(MatchingRun(joined, 0, ref, 0, at.gain, 1e-4), static_cast<long>(ref.frames()) - 4 * 8192);
}

// Pause toggles the source and leaves the state at 2 both ways; play on a
// paused record resumes the same player. Nothing of the music is lost.
TEST_F(SoundPlaybackTest, PauseTogglesAndPlayResumes) {
  ASSERT_TRUE(WriteOgg("pause.ogg", Chirp(2, 44100, 2.5)));
  const Pcm ref = DecodeReference("pause.ogg");
  ASSERT_NE(Load("pause.ogg"), nullptr);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  SYS_Thread_p player = music->thread;
  ASSERT_TRUE(WaitSource(AL_PLAYING));
  ASSERT_EQ(FSS_PauseMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_PAUSED);
  ASSERT_TRUE(WaitSource(AL_PAUSED));
  SleepMs(200);  // a stretch of silence in the output
  ASSERT_EQ(FSS_PauseMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_PAUSED);
  ASSERT_TRUE(WaitSource(AL_PLAYING));
  ASSERT_EQ(FSS_PauseMusic(music), 0);
  ASSERT_TRUE(WaitSource(AL_PAUSED));
  SleepMs(200);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_PLAYING);
  EXPECT_EQ(music->thread, player);
  ASSERT_TRUE(WaitSource(AL_PLAYING));
  ASSERT_EQ(FSS_PlayMusic(music), 0);  // playing: nothing happens
  EXPECT_EQ(music->thread, player);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const Pcm played = Heard();
  // The pauses are silent stretches; without them the music is whole.
  const Pcm joined = WithoutGaps(played, 0);
  const Match at = Locate(joined, ref, 0, 2048, 0, 1);
  EXPECT_LT(at.error, 1e-4);
  const long run = MatchingRun(joined, 0, ref, 0, at.gain, 1e-4);
  EXPECT_GE(run, static_cast<long>(ref.frames()) - 4 * 8192);
  EXPECT_EQ(run, static_cast<long>(joined.frames())) << "something else was heard";
}

// A refill held back far longer than the queued audio: OpenAL stops the
// dry source; the player starts it again and the rest of the music is heard.
TEST_F(SoundPlaybackTest, SourceThatRanDryIsStartedAgain) {
  ASSERT_TRUE(WriteOgg("dry.ogg", Chirp(2, 44100, 2.5)));
  const Pcm ref = DecodeReference("dry.ogg");
  const long mark = LogMark();
  ASSERT_NE(Load("dry.ogg"), nullptr);
  g_hold_fill = 4;  // the first refill after the prefill
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  EXPECT_GE(music->restarts, 1);
  EXPECT_NE(LogSince(mark).find("] [_FSS_MusicPlayer] source ran dry, started again (1)"), std::string::npos);
  const Pcm played = Heard();
  // The four buffers of the prefill, a gap where the source ran dry, then
  // the music goes on from where it stopped.
  const Match start = LocateStart(played, ref);
  ASSERT_LT(start.error, 1e-4);
  const long gap = MatchingRun(played, start.offset, ref, 0, start.gain, 1e-4);
  if (restarts == 1) {
    EXPECT_EQ(gap, 4 * 8192);
  }
  EXPECT_FALSE(SilentFrom(played, start.offset + gap + 44100 / 2));
  const Pcm joined = Joined(played);
  const Match at = Locate(joined, ref, 0, 2048, 0, 1);
  EXPECT_LT(at.error, 1e-4);
  const long run = MatchingRun(joined, 0, ref, 0, at.gain, 1e-4);
  EXPECT_GE(run, static_cast<long>(ref.frames()) - 4 * 8192);
  EXPECT_EQ(run, static_cast<long>(joined.frames())) << "something else was heard";
}

// Records in their life cycle: stop before play, play after the player
// ended by itself (the ended player is released first), and a looping
// stream without PCM, whose player ends instead of spinning.
TEST_F(SoundPlaybackTest, PlayerLifeCycle) {
  ASSERT_TRUE(WriteOgg("cycle.ogg", Chirp(2, 44100, 0.3)));
  ASSERT_NE(Load("cycle.ogg"), nullptr);
  EXPECT_EQ(FSS_StopMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_STOPPED);
  EXPECT_EQ(music->thread, nullptr);

  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  const long mark = LogMark();
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  EXPECT_NE(LogSince(mark).find("[SYS_ThreadKill] terminate thread: \"FSS Music Player\""), std::string::npos);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
  ASSERT_EQ(FSS_StopMusic(music), 0);
  EXPECT_EQ(FSS_GetMusicState(music), FSS_STOPPED);
  EXPECT_EQ(music->thread, nullptr);
  FSS_FreeMusic(music);
  music = nullptr;

  Pcm none;
  none.channels = 2;
  none.rate = 44100;
  ASSERT_TRUE(WriteBytes("none.ogg", EncodeOgg(none)));
  music = FSS_NewMusic(0, "none.ogg", 0);
  ASSERT_NE(music, nullptr);
  FSS_SetMusicLoop(music, 1);
  ASSERT_EQ(FSS_PlayMusic(music), 0);
  ASSERT_TRUE(WaitState(FSS_FINISHED));
}

}  // namespace
