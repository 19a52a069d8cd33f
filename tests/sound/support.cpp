#include "support.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/base.h"
#include "base/zblock.h"
#include "tools/oggenc/oggenc.h"

namespace soundtest {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

Pcm Chirp(int channels, int rate, double seconds, unsigned seed) {
  Pcm pcm;
  pcm.channels = channels;
  pcm.rate = rate;
  const auto frames = static_cast<std::size_t>(seconds * rate);
  pcm.samples.resize(frames * static_cast<std::size_t>(channels));
  unsigned state = seed * 2654435761u + 1u;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int c = 0; c < channels; ++c) {
      const double f0 = 220.0 * (c + 1), f1 = f0 * 4.0;
      const double phase = 2.0 * M_PI * (f0 * t + (f1 - f0) * t * t / (2.0 * seconds));
      state = state * 1664525u + 1013904223u;
      const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.06;
      pcm.samples[i * channels + c] = static_cast<float>(0.35 * std::sin(phase) + noise);
    }
  }
  return pcm;
}

std::vector<std::uint8_t> EncodeOgg(const Pcm &pcm, float quality) {
  oggenc::Encoder encoder;
  std::string error;
  if (!encoder.Start({.channels = pcm.channels, .rate = pcm.rate, .quality = quality, .serial = 0x5eed}, error))
    return {};
  const std::size_t frames = pcm.frames();
  for (std::size_t at = 0; at < frames; at += 1024) {
    const int n = static_cast<int>(std::min<std::size_t>(1024, frames - at));
    float **buffer = encoder.Buffer(n);
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < pcm.channels; ++c) buffer[c][i] = pcm.samples[(at + i) * pcm.channels + c];
    encoder.Wrote(n);
  }
  encoder.Finish();
  return std::move(encoder.bytes());
}

bool WriteOgg(const std::string &path, const Pcm &pcm, float quality) {
  auto bytes = EncodeOgg(pcm, quality);
  return !bytes.empty() && WriteBytes(path, bytes);
}

bool ForgeLastGranule(std::vector<std::uint8_t> &ogg, std::int64_t granule) {
  std::size_t at = 0, last = SIZE_MAX;
  while (at + 27 <= ogg.size() && std::memcmp(&ogg[at], "OggS", 4) == 0) {
    const std::size_t segments = ogg[at + 26];
    if (at + 27 + segments > ogg.size()) break;
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i) body += ogg[at + 27 + i];
    if (at + 27 + segments + body > ogg.size()) break;
    last = at;
    at += 27 + segments + body;
  }
  if (last == SIZE_MAX) return false;
  for (int i = 0; i < 8; ++i) ogg[last + 6 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(granule) >> (8 * i));
  ogg_page page;
  page.header = &ogg[last];
  page.header_len = 27 + ogg[last + 26];
  page.body = &ogg[last] + page.header_len;
  page.body_len = static_cast<long>(at - last) - page.header_len;
  ogg_page_checksum_set(&page);
  return true;
}

std::vector<std::uint8_t> ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

Pcm DecodeReference(const std::string &path) {
  Pcm pcm;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return pcm;
  const vorbis_info *info = ov_info(&vf, -1);
  pcm.channels = info->channels;
  pcm.rate = static_cast<int>(info->rate);
  char chunk[8192];
  for (;;) {
    const long got = ov_read(&vf, chunk, sizeof chunk, 0, 2, 1, nullptr);
    if (got == OV_HOLE) continue;
    if (got <= 0) break;
    for (long i = 0; i + 1 < got; i += 2) {
      const auto v = static_cast<std::int16_t>(static_cast<std::uint8_t>(chunk[i]) |
                                               (static_cast<std::uint8_t>(chunk[i + 1]) << 8));
      pcm.samples.push_back(static_cast<float>(v) / 32768.0f);
    }
  }
  ov_clear(&vf);
  return pcm;
}

// --- OpenAL Soft output ---------------------------------------------------------

namespace {
std::string g_wave_path;
}

std::string UseWaveOutput() {
  if (!g_wave_path.empty()) return g_wave_path;
  const std::string dir = std::filesystem::current_path().string();
  g_wave_path = dir + "/out.wav";
  const std::string conf = dir + "/alsoft.conf";
  std::ofstream out(conf, std::ios::trunc);
  out << "[general]\n"
         "drivers = wave\n"
         "channels = stereo\n"
         "sample-type = float32\n"
         "hrtf = false\n"
         "output-limiter = false\n"
         "dither = false\n"
         "stereo-mode = speakers\n"
         "[wave]\n"
      << "file = " << g_wave_path << "\n";
  out.close();
  setenv("ALSOFT_CONF", conf.c_str(), 1);
  // The suite's runner picks the null back end for everyone; this process wants the wave writer.
  setenv("ALSOFT_DRIVERS", "wave", 1);
  return g_wave_path;
}

void UseNoOutput() { setenv("ALSOFT_DRIVERS", "no-such-backend", 1); }

namespace {
std::uint32_t Le32(const std::uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }
std::uint16_t Le16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

bool ReadWav(const std::string &path, Pcm &out) {
  const auto bytes = ReadBytes(path);
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0)
    return false;
  int tag = 0, bits = 0;
  out = Pcm{};
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::uint32_t size = Le32(&bytes[at + 4]);
    const std::uint8_t *body = &bytes[at + 8];
    const std::size_t room = bytes.size() - at - 8;
    if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && room >= 16) {
      tag = Le16(body);
      out.channels = Le16(body + 2);
      out.rate = static_cast<int>(Le32(body + 4));
      bits = Le16(body + 14);
      if (tag == 0xFFFE && room >= 26) tag = Le16(body + 24);  // the subformat's leading code
    } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
      // A writer that was not closed leaves the size unset: take what is there.
      const std::size_t length = (size == 0 || size > room) ? room : size;
      const int width = bits / 8;
      if (out.channels <= 0 || width <= 0) return false;
      for (std::size_t i = 0; i + width <= length; i += width) {
        const std::uint8_t *p = body + i;
        float v = 0.0f;
        if (tag == 3 && width == 4) {
          std::uint32_t u = Le32(p);
          std::memcpy(&v, &u, 4);
        } else if (width == 1) {
          v = (static_cast<int>(p[0]) - 128) / 128.0f;
        } else if (width == 2) {
          v = static_cast<std::int16_t>(Le16(p)) / 32768.0f;
        } else if (width == 4) {
          v = static_cast<float>(static_cast<std::int32_t>(Le32(p)) / 2147483648.0);
        } else {
          return false;
        }
        out.samples.push_back(v);
      }
      out.samples.resize(out.frames() * out.channels);
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

// --- comparing audio ------------------------------------------------------------

Match Locate(const Pcm &played, const Pcm &reference, long reference_start, long length, long from, long to) {
  Match best;
  const int channels = played.channels;
  const long played_frames = static_cast<long>(played.frames());
  const long ref_frames = static_cast<long>(reference.frames());
  if (reference_start < 0 || reference_start + length > ref_frames || length <= 0) return best;
  from = std::max(from, 0L);
  to = std::min(to, played_frames - length + 1);
  double best_residual = 1e300;
  for (long offset = from; offset < to; ++offset) {
    double residual = 0.0;
    std::vector<double> gain(channels);
    for (int c = 0; c < channels; ++c) {
      const int rc = reference.channels == 1 ? 0 : c;
      double oo = 0, orr = 0, rr = 0;
      for (long i = 0; i < length; ++i) {
        const double o = played.samples[(offset + i) * channels + c];
        const double r = reference.samples[(reference_start + i) * reference.channels + rc];
        oo += o * o;
        orr += o * r;
        rr += r * r;
      }
      gain[c] = rr > 0 ? orr / rr : 0.0;
      residual += oo - (rr > 0 ? orr * orr / rr : 0.0);
    }
    if (residual < best_residual) {
      best_residual = residual;
      best.offset = offset;
      best.gain = gain;
    }
  }
  if (best.offset < 0) return best;
  best.error = 0.0;
  for (long i = 0; i < length; ++i)
    for (int c = 0; c < channels; ++c) {
      const int rc = reference.channels == 1 ? 0 : c;
      const double d = played.samples[(best.offset + i) * channels + c] -
                       best.gain[c] * reference.samples[(reference_start + i) * reference.channels + rc];
      best.error = std::max(best.error, std::fabs(d));
    }
  return best;
}

long MatchingRun(const Pcm &played, long offset, const Pcm &reference, long start, const std::vector<double> &gain,
                 double tolerance, long limit) {
  const int channels = played.channels;
  long n = 0;
  const long played_frames = static_cast<long>(played.frames());
  const long ref_frames = static_cast<long>(reference.frames());
  while (offset + n < played_frames && start + n < ref_frames && (limit < 0 || n < limit)) {
    for (int c = 0; c < channels; ++c) {
      const int rc = reference.channels == 1 ? 0 : c;
      const double d = played.samples[(offset + n) * channels + c] -
                       gain[c] * reference.samples[(start + n) * reference.channels + rc];
      if (std::fabs(d) > tolerance) return n;
    }
    ++n;
  }
  return n;
}

long FirstSound(const Pcm &played, double threshold) {
  for (std::size_t i = 0; i < played.samples.size(); ++i)
    if (std::fabs(played.samples[i]) > threshold) return static_cast<long>(i / played.channels);
  return -1;
}

bool SilentFrom(const Pcm &played, long from, double threshold) {
  for (std::size_t i = static_cast<std::size_t>(std::max(from, 0L)) * played.channels; i < played.samples.size(); ++i)
    if (std::fabs(played.samples[i]) > threshold) return false;
  return true;
}

// --- framework ------------------------------------------------------------------

namespace {
std::string g_log_path;
}

void StartFramework() {
  static std::once_flag once;
  std::call_once(once, [] {
    SYS_BaseInit(nullptr, 0, nullptr, nullptr);
    g_log_path = std::filesystem::current_path().string() + "/sound.log";
    SYS_DbgLogFile(g_log_path.c_str());
    SYS_DbgSetFlag(SYS_DBG_ON);
  });
}

long LogMark() {
  std::error_code ec;
  const auto size = std::filesystem::file_size(g_log_path, ec);
  return ec ? 0 : static_cast<long>(size);
}

std::string LogSince(long mark) {
  const auto bytes = ReadBytes(g_log_path);
  if (mark >= static_cast<long>(bytes.size())) return {};
  return std::string(bytes.begin() + mark, bytes.end());
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}


bool WritePack(const std::string &path, const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> &entries,
               bool compressed) {
  std::vector<std::uint8_t> data, catalog;
  auto put32 = [](std::vector<std::uint8_t> &v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  };
  for (const auto &[name, bytes] : entries) {
    const std::uint32_t offset = static_cast<std::uint32_t>(12 + data.size());
    std::uint32_t stored = static_cast<std::uint32_t>(bytes.size());
    if (compressed) {
      void *block = nullptr;
      int length = 0;
      if (SYS_ZCompress(bytes.data(), static_cast<int>(bytes.size()), &block, &length) != 0) return false;
      const auto *p = static_cast<const std::uint8_t *>(block);
      data.insert(data.end(), p, p + length);
      SYS_MemFree(block);
      stored = static_cast<std::uint32_t>(length);
    } else {
      data.insert(data.end(), bytes.begin(), bytes.end());
    }
    put32(catalog, stored);
    put32(catalog, offset);
    catalog.push_back(compressed ? 1 : 0);
    catalog.push_back(static_cast<std::uint8_t>(name.size()));
    catalog.push_back(static_cast<std::uint8_t>(name.size() >> 8));
    catalog.insert(catalog.end(), name.begin(), name.end());
  }
  void *block = nullptr;
  int length = 0;
  if (SYS_ZCompress(catalog.data(), static_cast<int>(catalog.size()), &block, &length) != 0) return false;
  std::vector<std::uint8_t> file = {'B', 'R', 'K', 'P'};
  put32(file, static_cast<std::uint32_t>(entries.size()));
  put32(file, static_cast<std::uint32_t>(12 + data.size()));
  file.insert(file.end(), data.begin(), data.end());
  const auto *p = static_cast<const std::uint8_t *>(block);
  file.insert(file.end(), p, p + length);
  SYS_MemFree(block);
  return WriteBytes(path, file);
}

}  // namespace soundtest
