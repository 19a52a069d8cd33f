// Ogg Vorbis encoding: analysis blocks in, Ogg pages out, all in memory.
#include "encode.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>

namespace track {
namespace {

// Serial number of the track's logical stream.
constexpr int kSerial = 0x5eed;
// Frames handed to the encoder per call.
constexpr long kChunk = 4096;

// The encoder's state, released in reverse order of set-up.
class Encoder {
 public:
  Encoder() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  ~Encoder() {
    if (stream_ready_) ogg_stream_clear(&stream_);
    if (block_ready_) vorbis_block_clear(&block_);
    if (dsp_ready_) vorbis_dsp_clear(&dsp_);
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
  }
  Encoder(const Encoder &) = delete;
  Encoder &operator=(const Encoder &) = delete;

  bool Start(float quality, std::string &error) {
    if (vorbis_encode_init_vbr(&info_, 2, kRate, quality) != 0) {
      error = "the encoder refuses quality " + std::to_string(quality);
      return false;
    }
    vorbis_comment_add_tag(&comment_, "TITLE", "demo");
    if (vorbis_analysis_init(&dsp_, &info_) != 0) {
      error = "the encoder cannot start";
      return false;
    }
    dsp_ready_ = true;
    vorbis_block_init(&dsp_, &block_);
    block_ready_ = true;
    ogg_stream_init(&stream_, kSerial);
    stream_ready_ = true;

    ogg_packet id, comments, codebooks;
    vorbis_analysis_headerout(&dsp_, &comment_, &id, &comments, &codebooks);
    ogg_stream_packetin(&stream_, &id);
    ogg_stream_packetin(&stream_, &comments);
    ogg_stream_packetin(&stream_, &codebooks);
    // The audio starts on a page of its own.
    ogg_page page;
    while (ogg_stream_flush(&stream_, &page) != 0) Put(page);
    return true;
  }

  void Feed(const float *left, const float *right, long frames) {
    float **buffer = vorbis_analysis_buffer(&dsp_, static_cast<int>(frames));
    std::copy(left, left + frames, buffer[0]);
    std::copy(right, right + frames, buffer[1]);
    vorbis_analysis_wrote(&dsp_, static_cast<int>(frames));
    Drain();
  }

  void Finish() {
    vorbis_analysis_wrote(&dsp_, 0);
    Drain();
    ogg_page page;
    while (ogg_stream_flush(&stream_, &page) != 0) Put(page);
  }

  std::vector<std::uint8_t> bytes;

 private:
  void Drain() {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&dsp_, &block_) == 1) {
      vorbis_analysis(&block_, nullptr);
      vorbis_bitrate_addblock(&block_);
      while (vorbis_bitrate_flushpacket(&dsp_, &packet) == 1) {
        ogg_stream_packetin(&stream_, &packet);
        while (ogg_stream_pageout(&stream_, &page) != 0) Put(page);
      }
    }
  }
  void Put(const ogg_page &page) {
    bytes.insert(bytes.end(), page.header, page.header + page.header_len);
    bytes.insert(bytes.end(), page.body, page.body + page.body_len);
  }

  vorbis_info info_{};
  vorbis_comment comment_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  ogg_stream_state stream_{};
  bool dsp_ready_ = false, block_ready_ = false, stream_ready_ = false;
};

}  // namespace

std::vector<std::uint8_t> EncodeVorbis(const Stereo &pcm, float quality, std::string &error) {
  if (pcm.left.size() != pcm.right.size() || pcm.left.empty()) {
    error = "the track has no samples";
    return {};
  }
  Encoder encoder;
  if (!encoder.Start(quality, error)) return {};
  const long frames = static_cast<long>(pcm.frames());
  for (long at = 0; at < frames; at += kChunk) {
    const long n = std::min(kChunk, frames - at);
    encoder.Feed(pcm.left.data() + at, pcm.right.data() + at, n);
  }
  encoder.Finish();
  return std::move(encoder.bytes);
}

}  // namespace track
