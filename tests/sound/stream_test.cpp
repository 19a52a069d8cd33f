// Vorbis streams read through the file layer: stream facts, whole-stream
// decoding from every kind of file, seeking, the decoder's file callbacks,
// damaged files, music record errors, and the hand-over of seek requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <thread>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "base/base.h"
#include "base/file.h"
#include "sound/fss.h"
#include "support.h"

using namespace soundtest;

namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

// 16-bit reference samples as the decoder gives them.
std::vector<std::int16_t> Int16(const Pcm &pcm) {
  std::vector<std::int16_t> v(pcm.samples.size());
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int16_t>(pcm.samples[i] * 32768.0f);
  return v;
}

class SoundStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { StartFramework(); }

  // An Ogg file of a chirp, written once per name.
  std::string Track(const std::string &name, int channels, int rate, double seconds) {
    EXPECT_TRUE(WriteOgg(name, Chirp(channels, rate, seconds)));
    return name;
  }

  // The same bytes under the names of kEveryKindOfFile: a plain file, a file
  // of a directory pack, and entries of a pack archive stored raw and compressed.
  static constexpr const char *kEveryKindOfFile[] = {"plain.ogg", "music/dir.ogg", "sounds/stored.ogg",
                                                     "sounds/packed.ogg"};
  static bool OnEveryKindOfFile(const std::vector<std::uint8_t> &bytes) {
    std::filesystem::create_directories("dirpack/music");
    return WriteBytes("plain.ogg", bytes) && WriteBytes("dirpack/music/dir.ogg", bytes) &&
           SYS_FilePackOpen("dirpack") == 0 && WritePack("stored.pack", {{"sounds/stored.ogg", bytes}}, false) &&
           WritePack("packed.pack", {{"sounds/packed.ogg", bytes}}, true) && SYS_FilePackOpen("stored.pack") == 0 &&
           SYS_FilePackOpen("packed.pack") == 0;
  }
};

TEST_F(SoundStreamTest, OpenReportsChannelsRateAndSizeAndLogsThem) {
  struct Case { int channels, rate; double seconds; };
  for (const Case c : {Case{1, 22050, 0.5}, Case{2, 44100, 0.7}}) {
    SCOPED_TRACE(c.channels);
    const std::string name = "facts" + std::to_string(c.channels) + ".ogg";
    Track(name, c.channels, c.rate, c.seconds);
    const Pcm ref = DecodeReference(name);
    const long mark = LogMark();
    Vorbis_t *s = Vorbis_Open(name.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->channels, c.channels);
    EXPECT_EQ(s->rate, c.rate);
    const int size = static_cast<int>(ref.samples.size() * 2);
    EXPECT_EQ(s->size, size);
    EXPECT_EQ(Vorbis_Size(s), size);
    EXPECT_EQ(Vorbis_Tell(s), 0);
    const auto lines = Lines(LogSince(mark));
    ASSERT_GE(lines.size(), 4u);
    const std::size_t n = lines.size();
    EXPECT_NE(lines[n - 4].find("[vorbis][vorbis.cpp:"), std::string::npos);
    EXPECT_NE(lines[n - 4].find(":Vorbis_Open()] stream: " + name), std::string::npos);
    EXPECT_NE(lines[n - 3].find("]  - channels: " + std::to_string(c.channels)), std::string::npos);
    EXPECT_NE(lines[n - 2].find("]  - rate: " + std::to_string(c.rate) + "Hz"), std::string::npos);
    EXPECT_NE(lines[n - 1].find("]  - size: " + std::to_string(size) + " bytes"), std::string::npos);
    EXPECT_EQ(Vorbis_Close(s), 0);
  }
}

// The same stream decodes identically from a plain file, a directory pack and
// a pack archive (stored and compressed entries).
TEST_F(SoundStreamTest, DecodeGivesTheWholeStreamFromEveryKindOfFile) {
  const auto bytes = EncodeOgg(Chirp(2, 44100, 0.6));
  ASSERT_TRUE(OnEveryKindOfFile(bytes));

  const auto expected = Int16(DecodeReference("plain.ogg"));
  for (const char *name : kEveryKindOfFile) {
    SCOPED_TRACE(name);
    Vorbis_t *s = Vorbis_Open(name);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->size, static_cast<int>(expected.size() * 2));
    auto *pcm = static_cast<std::int16_t *>(Vorbis_Decode(s));
    ASSERT_NE(pcm, nullptr);
    EXPECT_EQ(SYS_MemSize(pcm), s->size);
    EXPECT_EQ(std::memcmp(pcm, expected.data(), static_cast<std::size_t>(s->size)), 0);
    SYS_MemFree(pcm);
    EXPECT_EQ(Vorbis_Close(s), 0);
  }
}

// A stream whose last page promises less PCM than it yields is cut at
// `size`; one that promises more leaves zeros where nothing came. The buffer
// is never overrun.
TEST_F(SoundStreamTest, DecodeKeepsToTheAnnouncedSize) {
  auto bytes = EncodeOgg(Chirp(2, 44100, 0.5));
  ASSERT_TRUE(WriteBytes("true.ogg", bytes));
  const auto expected = Int16(DecodeReference("true.ogg"));
  const long frames = static_cast<long>(expected.size() / 2);
  struct Case { const char *name; long granule; };
  for (const Case c : {Case{"short.ogg", frames / 3}, Case{"long.ogg", frames * 2}}) {
    SCOPED_TRACE(c.name);
    auto forged = bytes;
    ASSERT_TRUE(ForgeLastGranule(forged, c.granule));
    ASSERT_TRUE(WriteBytes(c.name, forged));
    Vorbis_t *s = Vorbis_Open(c.name);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->size, static_cast<int>(c.granule * 4));
    auto *pcm = static_cast<std::int16_t *>(Vorbis_Decode(s));
    ASSERT_NE(pcm, nullptr);
    ASSERT_EQ(SYS_MemSize(pcm), s->size);
    EXPECT_EQ(std::memcmp(pcm, expected.data(), static_cast<std::size_t>(std::min(c.granule, frames)) * 4), 0);
    // Everything the stream yields when read on its own, up to the size,
    // then zeros where it yields nothing more.
    std::vector<std::int16_t> all;
    Vorbis_t *again = Vorbis_Open(c.name);
    std::int16_t chunk[2048];
    for (int got; (got = Vorbis_Read(again, chunk, sizeof chunk)) > 0;) all.insert(all.end(), chunk, chunk + got / 2);
    Vorbis_Close(again);
    const long count = static_cast<long>(s->size / 2);
    for (long i = 0; i < count; ++i)
      ASSERT_EQ(pcm[i], i < static_cast<long>(all.size()) ? all[i] : 0) << i;
    SYS_MemFree(pcm);
    Vorbis_Close(s);
  }
}

TEST_F(SoundStreamTest, SeekLandsOnTheHalvedSampleOfTheBytePosition) {
  Track("seek1.ogg", 1, 44100, 0.5);
  Track("seek2.ogg", 2, 44100, 0.5);
  const Pcm ref1 = DecodeReference("seek1.ogg"), ref2 = DecodeReference("seek2.ogg");
  struct Case { const char *name; const Pcm *ref; int bytes; long sample; };
  for (const Case c : {Case{"seek2.ogg", &ref2, 1000, 250}, Case{"seek1.ogg", &ref1, 1000, 500},
                       Case{"seek2.ogg", &ref2, 1003, 250}, Case{"seek1.ogg", &ref1, 3, 1},
                       Case{"seek2.ogg", &ref2, 0, 0}, Case{"seek1.ogg", &ref1, 40001, 20000}}) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.bytes));
    Vorbis_t *s = Vorbis_Open(c.name);
    ASSERT_NE(s, nullptr);
    // Read a little first so that the seek really moves.
    char scratch[4096];
    ASSERT_GT(Vorbis_Read(s, scratch, sizeof scratch), 0);
    ASSERT_EQ(Vorbis_Seek(s, c.bytes), 0);
    EXPECT_EQ(Vorbis_Tell(s), c.sample * s->channels * 2);
    // Sample-accurate: the PCM after the seek is the stream's from that sample on.
    std::int16_t got[512];
    const int n = Vorbis_Read(s, got, sizeof got);
    ASSERT_GT(n, 0);
    for (int i = 0; i < n / 2; ++i)
      ASSERT_EQ(got[i], static_cast<std::int16_t>(c.ref->samples[c.sample * s->channels + i] * 32768.0f)) << i;
    Vorbis_Close(s);
  }
  Vorbis_t *s = Vorbis_Open("seek2.ogg");
  ASSERT_EQ(Vorbis_SeekTime(s, 250), 0);
  EXPECT_DOUBLE_EQ(Vorbis_TellTime(s), 0.25);
  EXPECT_EQ(Vorbis_Tell(s), 11025 * 4);
  EXPECT_NE(Vorbis_SeekTime(s, 60000), 0);  // past the end: the decoder refuses
  Vorbis_Close(s);
}

// The decoder's callbacks over the file layer, on a plain file and on a pack
// entry (whose size comes from the catalog).
TEST_F(SoundStreamTest, FileCallbacksSeekReadTellAndClose) {
  std::vector<std::uint8_t> bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(WriteBytes("cb.bin", bytes));
  ASSERT_TRUE(WritePack("cb.pack", {{"inside/cb.bin", bytes}}, true));
  ASSERT_EQ(SYS_FilePackOpen("cb.pack"), 0);
  for (const char *name : {"cb.bin", "inside/cb.bin"}) {
    SCOPED_TRACE(name);
    SYS_File_t *f = SYS_FileOpen(name, 0);
    ASSERT_NE(f, nullptr);
    struct Case { std::int64_t offset; int origin, result; long position; };
    const Case cases[] = {
        {10, 0, 0, 10},   {5, 1, 0, 15},  {-4, 2, 0, 996}, {0, 2, 0, 1000}, {123, 7, 0, 0},
        {-1, 0, -1, -1},  {-5, 1, -1, -1}, {std::int64_t{1} << 40, 0, -1, -1}, {-2000, 2, -1, -1},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(c.offset);
      const long before = _Vorbis_FileTell(f);
      EXPECT_EQ(_Vorbis_FileSeek(f, c.offset, c.origin), c.result);
      EXPECT_EQ(_Vorbis_FileTell(f), c.result == 0 ? c.position : before);
    }
    // From the end with offset 0: at the size, and a read gives nothing.
    ASSERT_EQ(_Vorbis_FileSeek(f, 0, 2), 0);
    char buffer[64];
    EXPECT_EQ(_Vorbis_FileRead(buffer, 1, sizeof buffer, f), 0u);
    // Whole elements: 3 of 4 bytes at position 990 leave 10 bytes, so 2 elements.
    ASSERT_EQ(_Vorbis_FileSeek(f, 990, 0), 0);
    EXPECT_EQ(_Vorbis_FileRead(buffer, 4, 3, f), 2u);
    EXPECT_EQ(std::memcmp(buffer, &bytes[990], 10), 0);
    EXPECT_EQ(_Vorbis_FileClose(f), 0);
  }
}

// Damaged files: open fails with code 1 and leaves no file, descriptor or
// tracked block behind; decoding a stream cut in its audio stays in bounds.
TEST_F(SoundStreamTest, DamagedFilesFailCleanly) {
  const auto good = EncodeOgg(Chirp(2, 44100, 0.8));
  ASSERT_GT(good.size(), 2000u);
  auto flipped = good;
  for (std::size_t i = 40; i < 400; i += 7) flipped[i] ^= 0x5A;
  std::vector<std::uint8_t> garbage(4096);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
  struct Case { const char *name; std::vector<std::uint8_t> bytes; };
  const Case broken[] = {
      {"empty.ogg", {}},
      {"text.ogg", {'n', 'o', 't', ' ', 'o', 'g', 'g'}},
      {"capture.ogg", {good.begin(), good.begin() + 30}},
      {"headers-cut.ogg", {good.begin(), good.begin() + 200}},
      {"garbage.ogg", garbage},
      {"flipped-headers.ogg", flipped},
  };
  const long live = LiveTrackedBytes();
  const int fds = OpenDescriptors();
  for (const Case &c : broken) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteBytes(c.name, c.bytes));
    errClear();
    EXPECT_EQ(Vorbis_Open(c.name), nullptr);
    EXPECT_EQ(errGetLastError(), 1);
  }
  EXPECT_EQ(Vorbis_Open("missing.ogg"), nullptr);
  EXPECT_EQ(errGetLastError(), 1);
  EXPECT_EQ(LiveTrackedBytes(), live);
  EXPECT_EQ(OpenDescriptors(), fds);

  // Audio cut short or damaged after intact headers: the stream opens (or
  // not), decodes what is there, and releases everything.
  auto damaged = good;
  for (std::size_t i = good.size() / 2; i < good.size(); i += 97) damaged[i] ^= 0xFF;
  const Case cut[] = {
      {"cut-audio.ogg", {good.begin(), good.begin() + static_cast<long>(good.size() * 6 / 10)}},
      {"damaged-audio.ogg", damaged},
  };
  for (const Case &c : cut) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteBytes(c.name, c.bytes));
    if (Vorbis_t *s = Vorbis_Open(c.name)) {
      if (void *pcm = Vorbis_Decode(s)) {
        EXPECT_EQ(SYS_MemSize(pcm), s->size);
        SYS_MemFree(pcm);
      }
      char buffer[4096];
      Vorbis_Seek(s, 0);
      for (int guard = 0; guard < 10000 && Vorbis_Read(s, buffer, sizeof buffer) != 0; ++guard) {
      }
      EXPECT_EQ(Vorbis_Close(s), 0);
    }
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
  EXPECT_EQ(OpenDescriptors(), fds);
}

// Data that is no Vorbis stream fails with code 1 from every kind of file,
// also where closing the file clears the error code (a pack entry); a music
// record over it passes the code on and logs it.
TEST_F(SoundStreamTest, NoStreamFailsWithOneFromEveryKindOfFile) {
  ASSERT_TRUE(OnEveryKindOfFile({'n', 'o', 't', ' ', 'o', 'g', 'g'}));

  for (const char *name : kEveryKindOfFile) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Vorbis_Open(name), nullptr);
    EXPECT_EQ(errGetLastError(), 1);
    const long mark = LogMark();
    EXPECT_EQ(FSS_NewMusic(0, name, 0), nullptr);
    EXPECT_EQ(errGetLastError(), 1);
    const std::string log = LogSince(mark);
    EXPECT_NE(log.find(std::string("]  ! error when tried to loading vorbis file: ") + name + " -> 1"), std::string::npos)
        << log;
  }
}

// Streams of one link and 0 samples whose seek to 0 fails and leaves the
// decoder at position -1 (found by fuzzing): asking them for a time must
// not let vorbisfile look up the link of position -1, which it reads from
// before its own records. They open, refuse the seek, report no position
// and no time, and close; so does a music record over them.
TEST_F(SoundStreamTest, FailedSeekLeavesNoPositionAndNoTime) {
  const long live = LiveTrackedBytes();
  for (const char *file : {"vorbis-tell-after-failed-seek-1.ogg", "vorbis-tell-after-failed-seek-2.ogg"}) {
    SCOPED_TRACE(file);
    const std::string path = std::string(BRISK_SOURCE_DIR "/fuzz/corpus/vorbis_fuzz/") + file;
    Vorbis_t *s = Vorbis_Open(path.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->size, 0);
    EXPECT_EQ(Vorbis_Size(s), 0);
    EXPECT_LT(Vorbis_Seek(s, 0), 0);
    // The state that must not reach ov_time_tell: no decoder position.
    EXPECT_EQ(ov_pcm_tell(static_cast<OggVorbis_File *>(s->decoder)), -1);
    EXPECT_EQ(Vorbis_Tell(s), -1);
    EXPECT_EQ(Vorbis_TellTime(s), -1.0);
    EXPECT_LT(Vorbis_SeekTime(s, 0), 0);
    EXPECT_EQ(Vorbis_TellTime(s), -1.0);
    char buffer[4096];
    for (int guard = 0; guard < 1000 && Vorbis_Read(s, buffer, sizeof buffer) > 0; ++guard) {
    }
    EXPECT_EQ(Vorbis_Close(s), 0);

    // The player's seek request goes the same way; its time then reads -1.
    FSS_Music_t *music = FSS_NewMusic(0, path.c_str(), 0);
    ASSERT_NE(music, nullptr);
    ASSERT_EQ(FSS_SetMusicPos(music, 0), 0);
    EXPECT_EQ(music->fill(music, music->buffers[0]), 0);
    EXPECT_EQ(FSS_GetMusicPos(music), -1);
    EXPECT_EQ(FSS_GetMusicTime(music), -1);
    EXPECT_EQ(FSS_FreeMusic(music), 0);
  }
  EXPECT_EQ(LiveTrackedBytes(), live);
}

// A forged length in the last page lets a seek put the decoder far beyond
// what bytes and milliseconds hold: the byte position reports -1 and the
// time saturates, neither wraps.
TEST_F(SoundStreamTest, ForgedLengthsNeverOverflowPositionOrTime) {
  constexpr int64_t kGranule = INT64_MAX / 2;
  auto bytes = EncodeOgg(Chirp(2, 44100, 0.5));
  ASSERT_TRUE(ForgeLastGranule(bytes, kGranule));
  ASSERT_TRUE(WriteBytes("huge.ogg", bytes));
  Vorbis_t *s = Vorbis_Open("huge.ogg");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->size, -1);
  EXPECT_EQ(Vorbis_Size(s), -1);
  Vorbis_Seek(s, INT_MAX);  // past the real audio: the decoder ends on the forged last page
  ASSERT_EQ(ov_pcm_tell(static_cast<OggVorbis_File *>(s->decoder)), kGranule);
  EXPECT_EQ(Vorbis_Tell(s), -1);
  EXPECT_GT(Vorbis_TellTime(s), INT_MAX / 1000.0);
  Vorbis_Close(s);

  FSS_Music_t *music = FSS_NewMusic(0, "huge.ogg", 0);
  ASSERT_NE(music, nullptr);
  ASSERT_EQ(FSS_SetMusicPos(music, INT_MAX), 0);
  music->fill(music, music->buffers[0]);
  EXPECT_EQ(FSS_GetMusicPos(music), -1);
  EXPECT_EQ(FSS_GetMusicTime(music), INT_MAX);
  EXPECT_EQ(FSS_FreeMusic(music), 0);
}

TEST_F(SoundStreamTest, NullStreamsAreRefused) {
  errClear();
  EXPECT_EQ(Vorbis_Open(nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), 10);
  EXPECT_EQ(Vorbis_Close(nullptr), -1);
  EXPECT_EQ(errGetLastError(), 10);
  EXPECT_EQ(Vorbis_Decode(nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), 10);
  char b[8];
  EXPECT_LT(Vorbis_Read(nullptr, b, 8), 0);
  EXPECT_EQ(Vorbis_Tell(nullptr), -1);
  EXPECT_EQ(Vorbis_Size(nullptr), -1);
  EXPECT_LT(Vorbis_Seek(nullptr, 0), 0);
  EXPECT_LT(Vorbis_SeekTime(nullptr, 0), 0);
}

// --- music records without a device ----------------------------------------------

TEST_F(SoundStreamTest, NewMusicRefusesWhatItCannotPlay) {
  Track("three.ogg", 3, 22050, 0.3);
  Track("fine.ogg", 2, 22050, 0.3);
  struct Case { int kind; const char *name; int memory; int code; const char *line; };
  const Case cases[] = {
      {0, "fine.ogg", 1, 16, "]  ! Sorry, loading from memory not implemented."},
      {1, "fine.ogg", 0, 10, nullptr},
      {0, "missing.ogg", 0, 1, "]  ! error when tried to loading vorbis file: missing.ogg -> 1"},
      {0, "three.ogg", 0, 10, "] [FSS_NewMusic] too many channels (3)..."},
      {0, nullptr, 0, 10, nullptr},
  };
  const long live = LiveTrackedBytes();
  const int fds = OpenDescriptors();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    const long mark = LogMark();
    EXPECT_EQ(FSS_NewMusic(c.kind, c.name, c.memory), nullptr);
    EXPECT_EQ(errGetLastError(), c.code);
    if (c.line) {
      const std::string log = LogSince(mark);
      EXPECT_NE(log.find(std::string("[fss][mus][fss_music.cpp:")), std::string::npos) << log;
      EXPECT_NE(log.find(c.line), std::string::npos) << log;
    }
  }
  // The three-channel stream was opened and closed again: nothing stays open.
  EXPECT_EQ(LiveTrackedBytes(), live);
  EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(SoundStreamTest, NullRecordsAreRefusedWithTen) {
  struct Case { const char *what; long result; };
  const Case cases[] = {
      {"free", FSS_FreeMusic(nullptr)},         {"play", FSS_PlayMusic(nullptr)},
      {"stop", FSS_StopMusic(nullptr)},         {"pause", FSS_PauseMusic(nullptr)},
      {"pos", FSS_SetMusicPos(nullptr, 0)},     {"time", FSS_SetMusicTime(nullptr, 0)},
      {"getpos", static_cast<long>(FSS_GetMusicPos(nullptr))}, {"gettime", FSS_GetMusicTime(nullptr)},
      {"state", FSS_GetMusicState(nullptr)},    {"loop", FSS_SetMusicLoop(nullptr, 1)},
      {"getloop", FSS_GetMusicLoop(nullptr)},   {"volume", FSS_SetMusicVolume(nullptr, 0.5f)},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, -1) << c.what;
  errClear();
  EXPECT_EQ(FSS_GetMusicVolume(nullptr), -1.0f);
  EXPECT_EQ(errGetLastError(), 10);
  errClear();
  EXPECT_EQ(FSS_SetMusicTime(nullptr, 5), -1);
  EXPECT_EQ(errGetLastError(), 10);
}

// Fills run by hand (no device, so OpenAL ignores the buffer data): seek
// requests by position and time, their order, and a looping stream that
// has no PCM at all.
class SoundFillTest : public SoundStreamTest {
 protected:
  void SetUp() override {
    SoundStreamTest::SetUp();
    Track("fill.ogg", 2, 44100, 8.0);
    music = FSS_NewMusic(0, "fill.ogg", 0);
    ASSERT_NE(music, nullptr);
  }
  void TearDown() override { FSS_FreeMusic(music); }
  int Fill() { return music->fill(music, music->buffers[0]); }
  FSS_Music_t *music = nullptr;
};

TEST_F(SoundFillTest, PositionThenTimeInOneFillTimeWinsAndZeroCounts) {
  ASSERT_EQ(Fill(), 32768);
  EXPECT_EQ(FSS_GetMusicPos(music), 32768);
  // Both requests before one fill: position first, then time.
  ASSERT_EQ(FSS_SetMusicPos(music, 44100 * 4), 0);
  ASSERT_EQ(FSS_SetMusicTime(music, 3000), 0);
  ASSERT_EQ(Fill(), 32768);
  EXPECT_EQ(FSS_GetMusicPos(music), 3 * 44100 * 4 + 32768);
  // A request for 0 is a request like any other.
  ASSERT_EQ(FSS_SetMusicTime(music, 0), 0);
  ASSERT_EQ(Fill(), 32768);
  EXPECT_EQ(FSS_GetMusicPos(music), 32768);
  ASSERT_EQ(FSS_SetMusicPos(music, 0), 0);
  Fill();
  EXPECT_EQ(FSS_GetMusicPos(music), 32768);
  // A taken request is gone: the next fill just continues.
  Fill();
  EXPECT_EQ(FSS_GetMusicPos(music), 65536);
  EXPECT_EQ(FSS_GetMusicTime(music), 65536 / 4 * 1000 / 44100);
  // Negative requests are refused and leave nothing pending.
  EXPECT_EQ(FSS_SetMusicTime(music, -5), -1);
  EXPECT_EQ(errGetLastError(), 10);
  EXPECT_EQ(FSS_SetMusicPos(music, -1), -1);
  Fill();
  EXPECT_EQ(FSS_GetMusicPos(music), 98304);
}

TEST_F(SoundFillTest, EndOfStreamWithAndWithoutLoop) {
  ASSERT_EQ(FSS_SetMusicLoop(music, 0), 0);
  EXPECT_EQ(FSS_GetMusicLoop(music), 0);
  const int size = music->stream->size;
  ASSERT_EQ(FSS_SetMusicPos(music, size - 1000), 0);
  EXPECT_EQ(Fill(), 1000);  // the short last buffer
  EXPECT_EQ(Fill(), 0);     // then the end
  ASSERT_EQ(FSS_SetMusicLoop(music, 1), 0);
  EXPECT_EQ(FSS_GetMusicLoop(music), 1);
  EXPECT_EQ(Fill(), 32768);  // rewound: the beginning again
  EXPECT_EQ(FSS_GetMusicPos(music), 32768);
}

// A looping stream that yields nothing even right after the rewind ends
// instead of rewinding for ever.
TEST_F(SoundStreamTest, LoopingStreamWithoutPcmEnds) {
  Pcm silence;
  silence.channels = 2;
  silence.rate = 44100;
  auto bytes = EncodeOgg(silence);
  ASSERT_FALSE(bytes.empty());
  ASSERT_TRUE(WriteBytes("nothing.ogg", bytes));
  FSS_Music_t *music = FSS_NewMusic(0, "nothing.ogg", 0);
  ASSERT_NE(music, nullptr);
  EXPECT_EQ(music->stream->size, 0);
  FSS_SetMusicLoop(music, 1);
  EXPECT_EQ(music->fill(music, music->buffers[0]), 0);
  EXPECT_EQ(Vorbis_Decode(music->stream), nullptr);
  EXPECT_EQ(errGetLastError(), 10);
  FSS_FreeMusic(music);
}

// The caller writes a seek request while a fill is taking the previous one:
// the later request must survive for the next fill, never be cleared unseen.
// Each round leaves request A pending, starts a fill on another thread and
// writes request B at the same moment, then runs one more fill: the stream
// must then stand one or two buffers after B, whichever fill took it.
TEST_F(SoundFillTest, SeekRequestsWrittenDuringAFillAreNotLost) {
  constexpr int kRounds = 300;
  constexpr int kBufferMs = 8192 * 1000 / 44100;  // 185 ms of stereo
  std::atomic<int> go{0};
  std::atomic<int> started{0};
  std::atomic<int> done{0};
  std::thread filler([&] {
    for (int round = 1; round <= kRounds; ++round) {
      while (go.load() < round) {
      }
      started.store(round);
      Fill();
      done.store(round);
    }
  });
  int lost = 0;
  for (int round = 1; round <= kRounds; ++round) {
    const int a = 500 + (round % 5) * 300;
    const int b = 5000 + (round % 7) * 200;
    FSS_SetMusicTime(music, a);
    go.store(round);
    // Write B at staggered moments into the fill, so that some rounds land
    // while the fill is busy with A.
    while (started.load() < round) {
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds((round % 25) * 40);
    while (std::chrono::steady_clock::now() < until) {
    }
    FSS_SetMusicTime(music, b);
    while (done.load() < round) {
    }
    Fill();
    const int at = FSS_GetMusicTime(music);
    if (at < b + kBufferMs - 2 || at > b + 2 * kBufferMs + 2) ++lost;
  }
  filler.join();
  EXPECT_EQ(lost, 0);
}

}  // namespace
