// Ogg Vorbis encoding of a stereo track with libvorbisenc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "track.h"

namespace track {

// The track as one Ogg Vorbis stream (variable bit rate at `quality`, -0.1 to
// 1). The stream's serial number is fixed, so the same samples always give
// the same bytes. Empty with `error` set on failure.
std::vector<std::uint8_t> EncodeVorbis(const Stereo &pcm, float quality, std::string &error);

}  // namespace track
