// Analysis blocks in, Ogg pages out.
#include "tools/oggenc/oggenc.h"

#include <vorbis/vorbisenc.h>

namespace oggenc {
namespace {

void Append(std::vector<std::uint8_t> &bytes, const ogg_page &page) {
  bytes.insert(bytes.end(), page.header, page.header + page.header_len);
  bytes.insert(bytes.end(), page.body, page.body + page.body_len);
}

}  // namespace

// The libvorbis state, released in reverse order of set-up.
struct Encoder::State {
  State() {
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
  }
  ~State() {
    if (stream_ready) ogg_stream_clear(&stream);
    if (block_ready) vorbis_block_clear(&block);
    if (dsp_ready) vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
  }
  State(const State &) = delete;
  State &operator=(const State &) = delete;

  vorbis_info info{};
  vorbis_comment comment{};
  vorbis_dsp_state dsp{};
  vorbis_block block{};
  ogg_stream_state stream{};
  bool dsp_ready = false, block_ready = false, stream_ready = false;
};

Encoder::Encoder() : state_(std::make_unique<State>()) {}
Encoder::~Encoder() = default;

void Encoder::AddTag(const std::string &tag, const std::string &value) {
  vorbis_comment_add_tag(&state_->comment, tag.c_str(), value.c_str());
}

bool Encoder::Start(const Format &format, std::string &error) {
  State &s = *state_;
  if (vorbis_encode_init_vbr(&s.info, format.channels, format.rate, format.quality) != 0) {
    error = "the encoder refuses quality " + std::to_string(format.quality);
    return false;
  }
  if (vorbis_analysis_init(&s.dsp, &s.info) != 0) {
    error = "the encoder cannot start";
    return false;
  }
  s.dsp_ready = true;
  vorbis_block_init(&s.dsp, &s.block);
  s.block_ready = true;
  ogg_stream_init(&s.stream, format.serial);
  s.stream_ready = true;

  ogg_packet id, comments, codebooks;
  vorbis_analysis_headerout(&s.dsp, &s.comment, &id, &comments, &codebooks);
  ogg_stream_packetin(&s.stream, &id);
  ogg_stream_packetin(&s.stream, &comments);
  ogg_stream_packetin(&s.stream, &codebooks);
  // The audio starts on a page of its own.
  Flush();
  return true;
}

float **Encoder::Buffer(int frames) { return vorbis_analysis_buffer(&state_->dsp, frames); }

void Encoder::Wrote(int frames) {
  vorbis_analysis_wrote(&state_->dsp, frames);
  Drain();
}

void Encoder::Finish() {
  Wrote(0);
  Flush();
}

void Encoder::Drain() {
  State &s = *state_;
  ogg_packet packet;
  ogg_page page;
  while (vorbis_analysis_blockout(&s.dsp, &s.block) == 1) {
    vorbis_analysis(&s.block, nullptr);
    vorbis_bitrate_addblock(&s.block);
    while (vorbis_bitrate_flushpacket(&s.dsp, &packet) == 1) {
      ogg_stream_packetin(&s.stream, &packet);
      while (ogg_stream_pageout(&s.stream, &page) != 0) Append(bytes_, page);
    }
  }
}

void Encoder::Flush() {
  ogg_page page;
  while (ogg_stream_flush(&state_->stream, &page) != 0) Append(bytes_, page);
}

}  // namespace oggenc
