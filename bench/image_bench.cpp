// Decoding 1024x1024 pictures: our PNG, JPEG and TGA readers against
// stb_image on the same bytes in memory, with the ratio printed at the end
// (below 1: we are faster). The picture is made here: smooth gradients, a few
// hard edges and a little grain, like a photograph or a painted texture; the
// files are written by our own writers (PNG at level 6 and 9, baseline and
// progressive JPEG at quality 90, top-down TGA). Both decoders give the
// pixels as stored, without conversion.
#include <benchmark/benchmark.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>

#include "base/base.h"
#include "image/formats.h"
#include "image/image.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSide = 1024;

struct Sample {
  const char *name;
  txBitmap *(*read)(const unsigned char *, int);
  std::vector<unsigned char> bytes;
};

std::vector<Sample> g_samples;

txBitmap *Picture() {
  txBitmap *b = txCreateDummy(1, kSide, kSide);
  std::mt19937 rng(1);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      unsigned char *p = b->image[0] + (static_cast<size_t>(y) * kSide + x) * 3;
      const double u = x / double(kSide), v = y / double(kSide);
      const bool disc = (x - 600) * (x - 600) + (y - 400) * (y - 400) < 180 * 180;
      const int grain = static_cast<int>(rng() % 7) - 3;
      const int r = static_cast<int>(128 + 100 * std::sin(u * 6.1 + v * 2.3)) + grain;
      const int g = static_cast<int>(disc ? 220 - 60 * v : 90 + 120 * u * v) + grain;
      const int bl = static_cast<int>(((x / 128 + y / 128) % 2 ? 60 : 180) + 50 * std::cos(v * 9.0)) + grain;
      p[0] = static_cast<unsigned char>(std::clamp(r, 0, 255));
      p[1] = static_cast<unsigned char>(std::clamp(g, 0, 255));
      p[2] = static_cast<unsigned char>(std::clamp(bl, 0, 255));
    }
  return b;
}

std::vector<unsigned char> Slurp(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void MakeSamples() {
  const fs::path dir = fs::temp_directory_path() / ("image-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  txBitmap *b = Picture();
  auto save = [&](const char *name, int id, const char *file, txBitmap *(*read)(const unsigned char *, int)) {
    const std::string path = (dir / file).string();
    if (txSave(id, path.c_str(), b) != 0) {
      std::fprintf(stderr, "cannot write %s (error %d)\n", path.c_str(), errGetLastError());
      std::exit(1);
    }
    g_samples.push_back({name, read, Slurp(path)});
  };
  txOptions(11, 6);
  save("png6", 3, "level6.png", pngRead);
  txOptions(11, 9);
  save("png9", 3, "level9.png", pngRead);
  txOptions(9, 90);
  txOptions(6, 0);
  save("jpeg", 1, "baseline.jpg", jpegRead);
  txOptions(6, 1);
  save("jpeg_progressive", 1, "progressive.jpg", jpegRead);
  save("tga", 0, "top-down.tga", tgaRead);
  txFree(&b);
  fs::remove_all(dir);
}

void Ours(benchmark::State &state, const Sample *s) {
  for (auto _ : state) {
    txBitmap *b = s->read(s->bytes.data(), static_cast<int>(s->bytes.size()));
    if (!b) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(b);
    txFree(&b);
  }
  state.SetBytesProcessed(state.iterations() * kSide * kSide * 3);
}

void Stb(benchmark::State &state, const Sample *s) {
  for (auto _ : state) {
    int w = 0, h = 0, n = 0;
    unsigned char *p = stbi_load_from_memory(s->bytes.data(), static_cast<int>(s->bytes.size()), &w, &h, &n, 0);
    if (!p) state.SkipWithError("stb_image failed");
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
  state.SetBytesProcessed(state.iterations() * kSide * kSide * 3);
}

// Keeps each benchmark's time per iteration (the median when repeated)
// while printing as usual.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const auto &r : runs) {
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
      times[r.run_name.str()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char **argv) {
  static char name[] = "image_bench";
  static char *args[] = {name, nullptr};
  SYS_BaseInit(nullptr, 1, args, nullptr);
  txInit(nullptr);
  MakeSamples();
  for (const auto &s : g_samples) {
    benchmark::RegisterBenchmark((std::string("decode/") + s.name + "/brisk").c_str(), Ours, &s)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("decode/") + s.name + "/stb").c_str(), Stb, &s)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::printf("\n%-18s %10s %10s %8s %10s\n", "1024x1024", "brisk ms", "stb ms", "ratio", "file KiB");
  for (const auto &s : g_samples) {
    const std::string base = std::string("decode/") + s.name;
    auto ours = collector.times.find(base + "/brisk"), theirs = collector.times.find(base + "/stb");
    if (ours == collector.times.end() || theirs == collector.times.end()) continue;
    std::printf("%-18s %10.2f %10.2f %8.2f %10zu\n", s.name, ours->second, theirs->second,
                ours->second / theirs->second, s.bytes.size() / 1024);
  }
  benchmark::Shutdown();
  SYS_BaseDone();
  return 0;
}
