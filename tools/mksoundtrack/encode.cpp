// The track's Ogg Vorbis stream: planar stereo in, the whole file out.
#include "encode.h"

#include <algorithm>

#include "tools/oggenc/oggenc.h"

namespace track {
namespace {

// Serial number of the track's logical stream.
constexpr int kSerial = 0x5eed;
// Frames handed to the encoder per call.
constexpr long kChunk = 4096;

}  // namespace

std::vector<std::uint8_t> EncodeVorbis(const Stereo &pcm, float quality, std::string &error) {
  if (pcm.left.size() != pcm.right.size() || pcm.left.empty()) {
    error = "the track has no samples";
    return {};
  }
  oggenc::Encoder encoder;
  encoder.AddTag("TITLE", "demo");
  if (!encoder.Start({.channels = 2, .rate = kRate, .quality = quality, .serial = kSerial}, error)) return {};
  const long frames = static_cast<long>(pcm.frames());
  for (long at = 0; at < frames; at += kChunk) {
    const int n = static_cast<int>(std::min(kChunk, frames - at));
    float **buffer = encoder.Buffer(n);
    std::copy_n(pcm.left.data() + at, n, buffer[0]);
    std::copy_n(pcm.right.data() + at, n, buffer[1]);
    encoder.Wrote(n);
  }
  encoder.Finish();
  return std::move(encoder.bytes());
}

}  // namespace track
