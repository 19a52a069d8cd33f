#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "base/base.h"
#include "runtime/registry.h"
#include "tools/oggenc/oggenc.h"

namespace rttest {

namespace fs = std::filesystem;

namespace {
std::vector<char *> Argv(std::vector<std::string> &args) {
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}
}  // namespace

void StartUnits(std::vector<std::string> args) {
  // Kept alive: the base library keeps pointers into the argument list.
  static std::vector<std::string> keep;
  keep = std::move(args);
  static std::vector<char *> argv;
  argv = Argv(keep);
  SYS_RuntimeUnitsInit(static_cast<int>(keep.size()), argv.data());
}

void StartBase(std::vector<std::string> args) {
  std::vector<char *> argv = Argv(args);
  SYS_BaseInit(nullptr, static_cast<int>(args.size()), argv.data(), nullptr);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

long FindLine(const std::vector<std::string> &lines, const std::string &line, long from) {
  for (long i = from < 0 ? 0 : from; i < static_cast<long>(lines.size()); ++i)
    if (lines[static_cast<std::size_t>(i)] == line) return i;
  return -1;
}

bool WriteOgg(const std::string &path, double seconds) {
  oggenc::Encoder encoder;
  std::string error;
  if (!encoder.Start({.channels = 2, .rate = 44100, .quality = 0.1f, .serial = 1}, error)) return false;
  const long frames = static_cast<long>(seconds * 44100);
  unsigned seed = 1;
  for (long done = 0; done < frames;) {
    const long n = std::min(4096L, frames - done);
    float **buffer = encoder.Buffer(static_cast<int>(n));
    for (long i = 0; i < n; ++i) {
      seed = seed * 1103515245u + 12345u;
      const float v = static_cast<float>((seed >> 16) & 0x7fff) / 32768.0f * 0.01f;  // faint noise
      buffer[0][i] = v;
      buffer[1][i] = -v;
    }
    encoder.Wrote(static_cast<int>(n));
    done += n;
  }
  encoder.Finish();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(encoder.bytes().data()), static_cast<std::streamsize>(encoder.bytes().size()));
  return static_cast<bool>(out);
}

std::string CopyShow() {
  fs::path from = BRISK_SHOW_EXE;
  fs::path to = fs::current_path() / "moth";
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  return ec ? std::string() : to.string();
}

bool WriteShowFixture() {
  // One white 10 by 10 square at the centre, from time 0 on.
  const std::string one_layer = "1\n0\nwhite.tga\n\n\n1\n0\n0 400 300 0 0 10 10 255 255 255 255\n";
  for (const char *name : {"v_blur.ife", "h_blur.ife", "rotate.ife", "rotozoomer.ife", "background.ife",
                           "mothlogo.ife", "overlay.ife", "oops.ife", "whiteflash.ife", "4x4.ife",
                           "rotozoomer2.ife", "end.ife"}) {
    WriteFile(name, one_layer);
    if (!fs::exists(name)) return false;
  }
  // Uncompressed 32-bit TGA, top row first: two opaque pink and two clear pixels.
  std::string tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 32, 0x28};
  const char pixels[] = {'\xb4', '\x96', '\xff', '\xff', 0, 0, 0, 0, 0, 0, 0, 0, '\xb4', '\x96', '\xff', '\xff'};
  tga.append(pixels, sizeof pixels);
  WriteFile("piggy.tga", tga);
  return fs::file_size("piggy.tga") == tga.size();
}

Program::Program(const std::string &path, std::vector<std::string> args, std::vector<std::string> env) {
  out_ = (fs::current_path() / "stdout.txt").string();
  err_ = (fs::current_path() / "stderr.txt").string();
  std::vector<std::string> argv_s;
  argv_s.push_back(path);
  for (auto &a : args) argv_s.push_back(a);
  std::vector<char *> argv = Argv(argv_s);
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    for (auto &e : env) putenv(e.data());
    int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
}

Program::~Program() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
}

bool Program::Running() {
  if (pid_ <= 0 || ended_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) {
    ended_ = true;
    return false;
  }
  return true;
}

int Program::Wait(int limit_ms) {
  if (pid_ <= 0) return -1;
  if (!WaitFor([this] { return !Running(); }, limit_ms)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    ended_ = true;
    return -1;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string Program::Out() const { return ReadFile(out_); }
std::string Program::Err() const { return ReadFile(err_); }

bool WaitFor(const std::function<bool()> &done, int limit_ms) {
  auto start = std::chrono::steady_clock::now();
  while (!done()) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(limit_ms)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool Xdotool(const std::string &args) { return std::system(("timeout 30 xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

std::string CommandOutput(const std::string &command) {
  std::fflush(nullptr);
  FILE *pipe = popen(("timeout 30 " + command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {};
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  return pclose(pipe) == 0 ? out : std::string();
}

}  // namespace rttest
