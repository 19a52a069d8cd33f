// Ogg Vorbis encoding in memory with libvorbisenc, for the programs that make
// sound files at build or test time (the sound track tool, tests, benchmarks).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace oggenc {

struct Format {
  int channels = 2;
  int rate = 44100;
  float quality = 0.3f;  // variable bit rate quality, -0.1 to 1
  // Serial number of the logical stream. It is fixed, not drawn, so that the
  // same samples always give the same bytes.
  int serial = 0;
};

// One Ogg Vorbis stream built up in memory: any tags, Start, then Buffer and
// Wrote per chunk of frames, then Finish. The pages collect in bytes().
class Encoder {
 public:
  Encoder();
  ~Encoder();
  Encoder(const Encoder &) = delete;
  Encoder &operator=(const Encoder &) = delete;

  // A comment tag of the stream, e.g. ("TITLE", "demo"); before Start.
  void AddTag(const std::string &tag, const std::string &value);
  // Sets the encoder up and writes the header pages. False with `error` set
  // when the encoder refuses the format; the encoder is unusable then.
  bool Start(const Format &format, std::string &error);
  // Room for `frames` frames after a successful Start: one array per channel,
  // to be filled before Wrote(frames).
  float **Buffer(int frames);
  // Hands over the frames just filled and appends the pages that are complete.
  void Wrote(int frames);
  // Ends the stream and appends its last pages.
  void Finish();

  // The pages so far; after Finish, the whole file.
  std::vector<std::uint8_t> &bytes() { return bytes_; }

 private:
  struct State;
  void Drain();
  void Flush();

  std::unique_ptr<State> state_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace oggenc
