// Ogg Vorbis streams over the framework's file layer, decoded with vorbisfile
// to 16-bit signed little-endian interleaved PCM.
#include "sound/vorbis.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "base/errors.h"
#include "base/file.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "sound/fss.h"

namespace {

// Decoder reads of Vorbis_Decode.
constexpr int kDecodeChunk = 8192;
// Holes (missing or corrupt pages) skipped in a row before a decode gives up.
constexpr int kMaxHoles = 64;

OggVorbis_File *Decoder(Vorbis_t *stream) { return static_cast<OggVorbis_File *>(stream->decoder); }

}  // namespace

extern "C" Vorbis_t *Vorbis_Open(const char *name) {
  errClear();
  if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
  auto stream = brisk::OwnMem(static_cast<Vorbis_t *>(SYS_MemGet(sizeof(Vorbis_t), "struct")));
  auto decoder = brisk::OwnMem(static_cast<OggVorbis_File *>(SYS_MemGet(sizeof(OggVorbis_File), "file struct")));
  if (!stream || !decoder) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  brisk::FilePtr file(SYS_FileOpen(name, 0));
  if (!file) return brisk::Fail(SYS_ERR_NOTFOUND, nullptr);
  const ov_callbacks callbacks = {_Vorbis_FileRead, _Vorbis_FileSeek, _Vorbis_FileClose, _Vorbis_FileTell};
  // On failure the decoder leaves the file to us and has released its own state.
  if (ov_open_callbacks(file.get(), decoder.get(), nullptr, 0, callbacks) != 0)
    return brisk::Fail(SYS_ERR_NOTFOUND, nullptr);
  // From here on the decoder owns the file and closes it in ov_clear.
  stream->file = file.release();
  stream->decoder = decoder.release();
  const vorbis_info *info = ov_info(Decoder(stream.get()), -1);
  stream->channels = info ? info->channels : 0;
  stream->rate = info ? static_cast<int>(std::clamp<long>(info->rate, 0, INT_MAX)) : 0;
  // Kept as a 32-bit count: a stream whose decoded size does not fit (or that
  // cannot tell its length) reports -1.
  const int64_t total = Vorbis_Size(stream.get());
  stream->size = (total >= 0 && total <= INT_MAX) ? static_cast<int>(total) : -1;
  errClear();
  SYS_MSG(2, "vorbis", "stream: %s\n", name);
  SYS_MSG(2, "vorbis", " - channels: %d\n", stream->channels);
  SYS_MSG(2, "vorbis", " - rate: %dHz\n", stream->rate);
  SYS_MSG(2, "vorbis", " - size: %d bytes\n", stream->size);
  return stream.release();
}

extern "C" int Vorbis_Close(Vorbis_t *stream) {
  errClear();
  if (!stream) return brisk::Fail(SYS_ERR_ARG, -1);
  if (stream->decoder) ov_clear(Decoder(stream));  // closes the file through _Vorbis_FileClose
  SYS_MemFree(stream->decoder);
  SYS_MemFree(stream);
  return 0;
}

extern "C" int Vorbis_Read(Vorbis_t *stream, void *buffer, int length) {
  if (!stream || !buffer || length <= 0) return OV_EINVAL;
  return static_cast<int>(ov_read(Decoder(stream), static_cast<char *>(buffer), length, 0, 2, 1, nullptr));
}

extern "C" void *Vorbis_Decode(Vorbis_t *stream) {
  errClear();
  if (!stream || stream->size <= 0) return brisk::Fail(SYS_ERR_ARG, nullptr);
  const int size = stream->size;
  auto *pcm = static_cast<char *>(SYS_MemGet(size, "buffer"));
  if (!pcm) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  // Each read lands at the count so far rounded down to even and never asks
  // for more than is left, so the buffer cannot overflow whatever the stream
  // yields; a stream longer than promised is cut at `size`.
  int done = 0;
  int holes = 0;
  while (done < size) {
    const int at = done & ~1;
    const int room = std::min(kDecodeChunk, size - at);
    const int got = Vorbis_Read(stream, pcm + at, room);
    if (got == OV_HOLE && ++holes <= kMaxHoles) continue;
    if (got <= 0) break;
    holes = 0;
    done = at + got;
  }
  return pcm;
}

extern "C" int64_t Vorbis_Tell(Vorbis_t *stream) {
  if (!stream) return -1;
  const ogg_int64_t samples = ov_pcm_tell(Decoder(stream));
  if (samples < 0) return -1;
  // A forged granule position can put the decoder anywhere in 64 bits.
  const int64_t frame = static_cast<int64_t>(stream->channels) * 2;
  if (frame <= 0 || samples > INT64_MAX / frame) return -1;
  return static_cast<int64_t>(samples) * frame;
}

extern "C" double Vorbis_TellTime(Vorbis_t *stream) {
  if (!stream) return -1.0;
  // After a failed seek the decoder stands at -1; ov_time_tell would then
  // look for the link holding that position, find none, and read the stream
  // information before its first link. No position, no time.
  if (ov_pcm_tell(Decoder(stream)) < 0) return -1.0;
  return ov_time_tell(Decoder(stream));
}

extern "C" int64_t Vorbis_Size(Vorbis_t *stream) {
  if (!stream) return -1;
  const ogg_int64_t samples = ov_pcm_total(Decoder(stream), -1);
  if (samples < 0) return samples;
  // Guard the product against a forged length in the last page.
  const int64_t frame = static_cast<int64_t>(stream->channels) * 2;
  if (frame <= 0 || samples > INT64_MAX / frame) return -1;
  return static_cast<int64_t>(samples) * frame;
}

extern "C" int Vorbis_Seek(Vorbis_t *stream, int bytes) {
  if (!stream || stream->channels <= 0) return OV_EINVAL;
  // Arithmetic shift: halves rounding toward minus infinity.
  const ogg_int64_t sample = (bytes / stream->channels) >> 1;
  return ov_pcm_seek(Decoder(stream), sample);
}

extern "C" int Vorbis_SeekTime(Vorbis_t *stream, int ms) {
  if (!stream) return OV_EINVAL;
  const float seconds = static_cast<float>(ms) * 0.001f;
  return ov_time_seek(Decoder(stream), static_cast<double>(seconds));
}
