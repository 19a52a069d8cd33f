// mksoundtrack: synthesises the show's sound track and writes it as Ogg Vorbis.
//
//   mksoundtrack [--quality Q] OUTPUT
//
// The file is written beside OUTPUT under a temporary name and renamed into
// place, so a failed run never leaves half a track. Exit status: 0 done,
// 1 the track could not be made or written, 2 a wrong command line.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encode.h"
#include "track.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char *kUsage =
    "usage: mksoundtrack [--quality Q] OUTPUT\n"
    "  Synthesises the show's sound track (44100 Hz stereo) and writes it to\n"
    "  OUTPUT as Ogg Vorbis. Q is the encoder's quality, -0.1 to 1 (default 0.3).\n";

int Usage(const std::string &what) {
  std::fprintf(stderr, "mksoundtrack: %s\n%s", what.c_str(), kUsage);
  return kExitUsage;
}

bool ParseQuality(const char *text, float &quality) {
  char *end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= -0.1 && value <= 1.0)) return false;
  quality = static_cast<float>(value);
  return true;
}

// The output under a temporary name beside it until it is complete.
class Output {
 public:
  explicit Output(const std::string &path) : path_(path), temp_(path + ".tmp-" + std::to_string(getpid())) {}
  ~Output() {
    if (file_) std::fclose(file_);
    if (!done_) std::remove(temp_.c_str());
  }
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  // Creates the temporary file, so that an unwritable place fails before any work.
  bool Open() {
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) std::fprintf(stderr, "mksoundtrack: %s: cannot be created: %s\n", path_.c_str(), std::strerror(errno));
    return file_ != nullptr;
  }
  // Writes the bytes and renames the file into place.
  bool Commit(const std::vector<std::uint8_t> &bytes) {
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
      std::fprintf(stderr, "mksoundtrack: %s: write error\n", path_.c_str());
      return false;
    }
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
      std::fprintf(stderr, "mksoundtrack: %s: cannot be created: %s\n", path_.c_str(), std::strerror(errno));
      return false;
    }
    done_ = true;
    return true;
  }

 private:
  std::string path_, temp_;
  std::FILE *file_ = nullptr;
  bool done_ = false;
};

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  float quality = 0.3f;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--quality") {
      if (i + 1 >= argc || !ParseQuality(argv[i + 1], quality)) return Usage("--quality needs a value from -0.1 to 1");
      ++i;
    } else if (arg.rfind("-", 0) == 0 && arg != "-") {
      return Usage("unknown option " + arg);
    } else if (output.empty()) {
      output = arg;
    } else {
      return Usage("only one output file");
    }
  }
  if (output.empty()) return Usage("no output file given");
  Output out(output);
  if (!out.Open()) return kExitFailed;

  const auto start = std::chrono::steady_clock::now();
  const track::Stereo pcm = track::Render();
  const double synth_ms = MsSince(start);
  std::string error;
  const auto encode_start = std::chrono::steady_clock::now();
  const std::vector<std::uint8_t> bytes = track::EncodeVorbis(pcm, quality, error);
  const double encode_ms = MsSince(encode_start);
  if (bytes.empty()) {
    std::fprintf(stderr, "mksoundtrack: %s: %s\n", output.c_str(), error.c_str());
    return kExitFailed;
  }
  if (!out.Commit(bytes)) return kExitFailed;
  std::printf("%s: %.3f s of 44100 Hz stereo, %zu bytes (synthesis %.0f ms, encoding %.0f ms)\n", output.c_str(),
              static_cast<double>(pcm.frames()) / track::kRate, bytes.size(), synth_ms, encode_ms);
  return kExitOk;
}
