// Reading a show's data from a pack archive against reading the same files
// from disk, through the file layer both times. The data are made here: image
// levels (smooth gradients with a little grain), interface text, 16-bit PCM,
// an already-compressed sound stream (noise) and plain noise, about 5 MB in
// all; the archive is made by the pack tool. Disk reads come from the page
// cache, so the ratio shows what loading and uncompressing an entry costs
// against a cached read of the plain file.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/base.h"
#include "base/file.h"

namespace {

namespace fs = std::filesystem;

enum Kind { kAll = 0, kImage, kText, kAudio, kNoise };

struct DataFile {
  std::string name;
  Kind kind;
  std::string bytes;
};

std::string Image(unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(512 * 512 * 3, '\0');
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x)
      for (int c = 0; c < 3; ++c) {
        const int base = (x * (c + 1) + y * (3 - c)) / 4 + static_cast<int>(seed) * 17;
        out[(y * 512 + x) * 3 + c] = static_cast<char>((base + static_cast<int>(rng() % 9) - 4) & 0xFF);
      }
  return out;
}

std::string Text(unsigned seed) {
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < 512 * 1024) {
    out += "layer " + std::to_string(rng() % 24) + " key " + std::to_string(rng() % 67314) + " " +
           std::to_string(rng() % 800) + " " + std::to_string(rng() % 600) + " " + std::to_string(rng() % 256) +
           " ease " + std::to_string(rng() % 3) + "\r\n";
  }
  return out;
}

std::string Pcm() {
  std::mt19937 rng(5);
  std::string out;
  out.reserve(1 << 20);
  for (int i = 0; out.size() < (1u << 20); ++i) {
    const double t = i / 44100.0;
    for (double f : {220.0, 330.0}) {
      const auto s = static_cast<int16_t>(9000 * std::sin(2 * M_PI * f * t) + 3000 * std::sin(2 * M_PI * 3 * f * t) +
                                          static_cast<int>(rng() % 64) - 32);
      out += static_cast<char>(s & 0xFF);
      out += static_cast<char>((s >> 8) & 0xFF);
    }
  }
  return out;
}

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char &c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

struct Setup {
  std::vector<DataFile> files;
  size_t total = 0;
  bool ready = false;
  std::string error;
};

Setup &Data() {
  static Setup setup = [] {
    Setup s;
    char dir[] = "/tmp/brisk-pack-bench-XXXXXX";
    if (!mkdtemp(dir)) {
      s.error = "no scratch directory";
      return s;
    }
    fs::current_path(dir);
    s.files = {{"textures/sky.raw", kImage, Image(1)},   {"textures/ground.raw", kImage, Image(2)},
               {"textures/bars.raw", kImage, Image(3)},  {"ife/intro.ife", kText, Text(1)},
               {"ife/outro.ife", kText, Text(2)},        {"sound/track.pcm", kAudio, Pcm()},
               {"sound/demo.ogg", kAudio, Noise(512 * 1024, 9)}, {"misc/noise.bin", kNoise, Noise(256 * 1024, 10)}};
    for (const DataFile &f : s.files) {
      const fs::path path = fs::path("data") / f.name;
      fs::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary).write(f.bytes.data(), static_cast<std::streamsize>(f.bytes.size()));
      s.total += f.bytes.size();
    }
    const std::string command = std::string(PACK_TOOL) + " create show.pack data > /dev/null";
    if (std::system(command.c_str()) != 0) {
      s.error = "the pack tool failed";
      return s;
    }
    static char name[] = "pack_bench";
    static char *args[] = {name, nullptr};
    SYS_BaseInit(nullptr, 1, args, nullptr);
    // The entry names are relative to data/, so nothing in the working directory shadows them.
    if (SYS_FilePackOpen("show.pack") != 0) {
      s.error = "the archive does not mount";
      return s;
    }
    s.ready = true;
    std::printf("data: %zu bytes in %zu files, archive: %ju bytes\n", s.total, s.files.size(),
                static_cast<uintmax_t>(fs::file_size("show.pack")));
    return s;
  }();
  return setup;
}

// Opens, reads whole and closes every file of a kind; the bytes read.
size_t ReadAll(Kind kind, bool from_pack, std::vector<char> &buffer) {
  size_t total = 0;
  for (const DataFile &f : Data().files) {
    if (kind != kAll && f.kind != kind) continue;
    const std::string name = from_pack ? f.name : "data/" + f.name;
    SYS_File_t *file = SYS_FileOpen(name.c_str(), 0);
    if (!file) continue;
    buffer.resize(static_cast<size_t>(file->size));
    const int got = SYS_FileRead(file, buffer.data(), file->size);
    benchmark::DoNotOptimize(buffer.data());
    SYS_FileClose(file);
    total += got > 0 ? static_cast<size_t>(got) : 0;
  }
  return total;
}

void Prepare(benchmark::State &state) {
  if (!Data().ready) state.SkipWithError(Data().error.c_str());
}

void BM_ReadFromPack(benchmark::State &state) {
  Prepare(state);
  std::vector<char> buffer;
  size_t bytes = 0;
  for (auto _ : state) bytes += ReadAll(static_cast<Kind>(state.range(0)), true, buffer);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_ReadFromDisk(benchmark::State &state) {
  Prepare(state);
  std::vector<char> buffer;
  size_t bytes = 0;
  for (auto _ : state) bytes += ReadAll(static_cast<Kind>(state.range(0)), false, buffer);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// Both in one run, alternating, with the ratio of their times as a counter.
void BM_PackOverDisk(benchmark::State &state) {
  Prepare(state);
  std::vector<char> buffer;
  double pack_seconds = 0, disk_seconds = 0;
  size_t bytes = 0;
  const auto kind = static_cast<Kind>(state.range(0));
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    bytes += ReadAll(kind, true, buffer);
    auto t1 = std::chrono::steady_clock::now();
    ReadAll(kind, false, buffer);
    auto t2 = std::chrono::steady_clock::now();
    pack_seconds += std::chrono::duration<double>(t1 - t0).count();
    disk_seconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  state.counters["pack_MBps"] = pack_seconds > 0 ? mb / pack_seconds : 0;
  state.counters["disk_MBps"] = disk_seconds > 0 ? mb / disk_seconds : 0;
  state.counters["pack_over_disk"] = disk_seconds > 0 ? pack_seconds / disk_seconds : 0;
}

void Kinds(benchmark::internal::Benchmark *b) {
  b->ArgName("kind");  // 0 all, 1 images, 2 text, 3 audio, 4 noise
  for (int k = kAll; k <= kNoise; ++k) b->Arg(k);
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ReadFromPack)->Arg(kAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFromDisk)->Arg(kAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackOverDisk)->Apply(Kinds);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Data();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (Data().ready) SYS_BaseDone();
  const fs::path scratch = fs::current_path();
  if (scratch.string().rfind("/tmp/brisk-pack-bench-", 0) == 0) {
    fs::current_path("/tmp");
    std::error_code ec;
    fs::remove_all(scratch, ec);
  }
  return 0;
}
