// The music player's cost at 44100 Hz stereo.
//
// MusicFill: one refill of a 32768-byte buffer (8192 frames, 186 ms of
// music): decoding plus the hand-over to OpenAL. core_% is the share of one
// core that refilling takes to keep up with playback.
//
// PlayerWholeTrack: a 20-second track played from start to end by the real
// player thread on OpenAL Soft's null back end (which consumes the audio in
// real time). player_cpu_% is the player thread's CPU time per second of
// music; worst_refill_ms is, over the whole track, the longest time between
// a buffer having been played out and its refill being ready (read from the
// source's play position when the refill completes); dry is how often the
// source ran dry.
#include <benchmark/benchmark.h>

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/base.h"
#include "sound/fss.h"
#include "tools/oggenc/oggenc.h"

namespace {

constexpr int kRate = 44100;
constexpr double kBufferSeconds = 8192.0 / kRate;

// A stereo chirp with a little noise, encoded at quality 0.5 (about 160 kbit/s).
bool WriteTrack(const std::string &path, double seconds) {
  oggenc::Encoder encoder;
  std::string error;
  if (!encoder.Start({.channels = 2, .rate = kRate, .quality = 0.5f, .serial = 7}, error)) return false;
  const long frames = static_cast<long>(seconds * kRate);
  unsigned noise = 1;
  for (long at = 0; at < frames; at += 1024) {
    const int n = static_cast<int>(std::min<long>(1024, frames - at));
    float **buffer = encoder.Buffer(n);
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(at + i) / kRate;
      for (int c = 0; c < 2; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double f = 220.0 * (c + 1) * (1.0 + t / seconds * 3.0);
        buffer[c][i] = static_cast<float>(0.3 * std::sin(2 * M_PI * f * t) + ((noise >> 8) / 16777216.0 - 0.5) * 0.05);
      }
    }
    encoder.Wrote(n);
  }
  encoder.Finish();
  FILE *out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const auto &bytes = encoder.bytes();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

// One process-wide set-up: the base library, OpenAL Soft's null back end
// (it plays in real time and writes nothing), the sound system, the track.
const std::string &Track() {
  // Never destroyed: the exit handler that removes the file still reads it.
  static const std::string &path = *new std::string([] {
    setenv("ALSOFT_DRIVERS", "null", 1);
    SYS_BaseInit(nullptr, 0, nullptr, nullptr);
    FSS_Init(FSS_RATE_44100 | FSS_STEREO);
    const char *dir = getenv("TMPDIR");
    std::string p = std::string(dir && *dir ? dir : "/tmp") + "/sound_bench_" + std::to_string(getpid()) + ".ogg";
    WriteTrack(p, 20.0);
    std::atexit([] {
      FSS_Done();
      std::remove(Track().c_str());
    });
    return p;
  }());
  return path;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void MusicFill(benchmark::State &state) {
  FSS_Music_t *music = FSS_NewMusic(0, Track().c_str(), 0);
  if (!music) {
    state.SkipWithError("no track");
    return;
  }
  FSS_SetMusicLoop(music, 1);
  const double start = ThreadCpuSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(music->fill(music, music->buffers[0]));
  const double cpu = ThreadCpuSeconds() - start;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 32768);
  // CPU time of the refills over the music they made, in percent of one core.
  state.counters["core_%"] = cpu / (static_cast<double>(state.iterations()) * kBufferSeconds) * 100.0;
  FSS_FreeMusic(music);
}
BENCHMARK(MusicFill)->Unit(benchmark::kMicrosecond);

// Watched from inside the player thread through the record's fill hook.
FSS_MusicFill_t g_fill = nullptr;
std::atomic<int> g_fills{0};
std::atomic<long> g_bytes{0};
std::atomic<double> g_cpu{0.0};
std::atomic<double> g_worst{0.0};
double g_sum = 0.0;
int g_refills = 0;

int WatchedFill(FSS_Music_t *music, unsigned buffer) {
  const int bytes = g_fill(music, buffer);
  const int index = g_fills.fetch_add(1);
  g_bytes += bytes;
  if (index >= FSS_MUSIC_BUFFERS && bytes > 0) {
    // The buffer just refilled had been played out this long ago: the
    // source's position within what is still queued.
    ALint offset = 0;
    alGetSourcei(music->source, AL_SAMPLE_OFFSET, &offset);
    const double late = static_cast<double>(offset) / kRate;
    g_worst = std::max(g_worst.load(), late);
    g_sum += late;
    ++g_refills;
  }
  g_cpu = ThreadCpuSeconds();
  return bytes;
}

void PlayerWholeTrack(benchmark::State &state) {
  for (auto _ : state) {
    FSS_Music_t *music = FSS_NewMusic(0, Track().c_str(), 0);
    if (!music) {
      state.SkipWithError("no track");
      return;
    }
    g_fill = music->fill;
    music->fill = WatchedFill;
    g_fills = 0;
    g_bytes = 0;
    g_cpu = 0.0;
    g_worst = 0.0;
    g_sum = 0.0;
    g_refills = 0;
    FSS_PlayMusic(music);
    while (FSS_GetMusicState(music) != FSS_FINISHED) SYS_Sleep(20);
    const double music_seconds = static_cast<double>(g_bytes.load()) / (kRate * 4.0);
    state.counters["music_s"] = music_seconds;
    state.counters["player_cpu_ms"] = g_cpu.load() * 1000.0;
    state.counters["player_cpu_%"] = music_seconds > 0 ? g_cpu.load() / music_seconds * 100.0 : 0.0;
    state.counters["worst_refill_ms"] = g_worst.load() * 1000.0;
    state.counters["mean_refill_ms"] = g_refills ? g_sum / g_refills * 1000.0 : 0.0;
    state.counters["dry"] = music->restarts;
    FSS_FreeMusic(music);
  }
}
BENCHMARK(PlayerWholeTrack)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
