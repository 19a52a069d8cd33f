// Reading untrusted file bytes, and size arithmetic that cannot overflow.
// Private to the image loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "base/log.h"
#include "base/reader.h"
#include "image/image.h"

namespace brisk::image {

// Every parser reads file bytes through the base library's bounded reader.
using brisk::ByteReader;

// How every reader starts: the file's bytes (none for a null buffer or a size
// that is not positive) behind a bounded reader. Fewer than `header` bytes
// give a failed reader with TX_ERR_SHORT set:
//   ByteReader in = StartReading(buffer, size, kHeader);
//   if (in.failed()) return nullptr;
inline ByteReader StartReading(const unsigned char *buffer, int size, size_t header) {
  ByteReader in(buffer, buffer && size > 0 ? static_cast<size_t>(size) : 0);
  if (in.remaining() < header) {
    in.fail();
    errSetLastError(TX_ERR_SHORT);
  }
  return in;
}

// Signed little-endian values through the reader.
inline int16_t ReadI16(ByteReader &in) { return static_cast<int16_t>(in.u16le()); }
inline int32_t ReadI32(ByteReader &in) { return static_cast<int32_t>(in.u32le()); }

// Little-endian values at a known-good position.
inline uint16_t Le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const unsigned char *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Limits on what a file may announce: no side above kMaxSide pixels and no
// level above kMaxBytes, which keeps every size inside the allocator's int
// and a hostile header from asking for gigabytes.
inline constexpr int64_t kMaxSide = 32768;
inline constexpr int64_t kMaxBytes = int64_t{1} << 28;

// a * b when it stays within limit.
inline std::optional<int64_t> MulCapped(int64_t a, int64_t b, int64_t limit = kMaxBytes) {
  if (a < 0 || b < 0) return std::nullopt;
  if (a != 0 && b > limit / a) return std::nullopt;
  return a * b;
}

// Bytes of width x height pixels of bytesPerPixel bytes, or nothing when a
// side is not positive or the size leaves the limits.
inline std::optional<int64_t> PixelBytes(int64_t width, int64_t height, int64_t bytesPerPixel) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || bytesPerPixel <= 0) return std::nullopt;
  auto pixels = MulCapped(width, height, kMaxSide * kMaxSide);
  if (!pixels) return std::nullopt;
  return MulCapped(*pixels, bytesPerPixel);
}

}  // namespace brisk::image
