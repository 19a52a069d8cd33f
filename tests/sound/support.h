// Fixtures of the sound tests: synthesised signals encoded to Ogg Vorbis,
// OpenAL Soft pointed at its wave writer, the written WAV read back, the
// framework log captured to a file, and pack archives built on the spot.
#pragma once

#include "tests/support/live_memory.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace soundtest {

// Interleaved float PCM in -1..1.
struct Pcm {
  int channels = 0;
  int rate = 0;
  std::vector<float> samples;
  std::size_t frames() const { return channels ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

// A rising chirp per channel (each channel its own band) with a little
// seeded noise, so that every stretch of the signal is unlike every other
// and the played audio can be located in the stream unambiguously.
Pcm Chirp(int channels, int rate, double seconds, unsigned seed = 1);

// Encodes pcm as an Ogg Vorbis file (quality -0.1 .. 1.0). True on success.
bool WriteOgg(const std::string &path, const Pcm &pcm, float quality = 0.3f);
// The bytes of an Ogg Vorbis encoding of pcm.
std::vector<std::uint8_t> EncodeOgg(const Pcm &pcm, float quality = 0.3f);

// Rewrites the granule position of the last Ogg page (the stream's length as
// the decoder reads it) and fixes the page checksum.
bool ForgeLastGranule(std::vector<std::uint8_t> &ogg, std::int64_t granule);

std::vector<std::uint8_t> ReadBytes(const std::string &path);
bool WriteBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);

// Decoded 16-bit PCM as floats (x / 32768), straight from vorbisfile: the
// reference the played audio is compared with.
Pcm DecodeReference(const std::string &path);

// Points OpenAL Soft at its wave writer through a generated configuration
// (float samples, stereo, no limiter, no HRTF; the rate is the context's), writing to
// <scratch>/out.wav. Must run before the first OpenAL call of the process;
// later calls only return the same path.
std::string UseWaveOutput();
// Makes OpenAL Soft find no output device at all.
void UseNoOutput();

// A WAV file as the wave writer leaves it (8/16/32-bit integer or 32-bit float).
bool ReadWav(const std::string &path, Pcm &out);

// Where `part` (frames of a reference) lies in `played`: the frame offset in
// played and the least-squares gain per channel that fit best. The search
// covers played frames [from, to) and compares `length` frames.
struct Match {
  long offset = -1;
  std::vector<double> gain;
  double error = 1e9;  // largest |played - gain * reference| over the compared frames
};
Match Locate(const Pcm &played, const Pcm &reference, long reference_start, long length, long from, long to);

// Number of frames from played[offset] on that equal reference[start...] with
// the given gains within tolerance, stopping at the first that does not.
long MatchingRun(const Pcm &played, long offset, const Pcm &reference, long start, const std::vector<double> &gain,
                 double tolerance, long limit = -1);

// First frame of played that is not silent, or -1.
long FirstSound(const Pcm &played, double threshold = 1e-4);
// True when every sample from `from` on is silent.
bool SilentFrom(const Pcm &played, long from, double threshold = 1e-6);

// Starts the base library once per process and sends the framework log to
// <scratch>/sound.log. LogMark() gives the log's current length; LogSince()
// the text written after a mark.
void StartFramework();
long LogMark();
std::string LogSince(long mark);
// Lines of the text, in order.
std::vector<std::string> Lines(const std::string &text);

// Bytes held by live tracked blocks (from the memory report), -1 on failure.
using brisktest::LiveTrackedBytes;

// A pack archive holding the given entries (name, bytes), each stored raw or
// as a compressed block, written to path. True on success.
bool WritePack(const std::string &path, const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> &entries,
               bool compressed);

void SleepMs(int ms);

// Waits (without deciding anything by time) until done() holds; gives up
// after limit_ms as a safety net and returns false then.
template <typename F>
bool WaitFor(F done, int limit_ms = 60000) {
  for (int waited = 0; !done(); waited += 2) {
    if (waited >= limit_ms) return false;
    SleepMs(2);
  }
  return true;
}

}  // namespace soundtest
