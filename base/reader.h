// brisk!quantoven base library: a bounded reader over a span of untrusted bytes.
//
// Every parser of file contents reads through one of these: each read checks
// what is left first, and the first read that would run past the end puts the
// reader into a failed state that sticks. After a failure every further read
// yields zeros or an empty span, so a parser may read a whole record and test
// failed() once at its end. C++ only (used inside the framework).
#pragma once

#ifdef __cplusplus

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace brisk {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ByteReader(const void *data, size_t size) : bytes_(static_cast<const uint8_t *>(data), data ? size : 0) {}

  bool failed() const { return failed_; }
  bool ok() const { return !failed_; }
  size_t position() const { return pos_; }
  // Bytes still available; 0 once the reader has failed.
  size_t remaining() const { return failed_ ? 0 : bytes_.size() - pos_; }

  // Marks the reader failed, e.g. when a value read is out of its valid range.
  void fail() { failed_ = true; }

  bool skip(size_t count) {
    take(count);
    return !failed_;
  }

  // A view of the next count bytes; empty (and failed) when fewer are left.
  std::span<const uint8_t> bytes(size_t count) {
    const uint8_t *p = take(count);
    return failed_ || count == 0 ? std::span<const uint8_t>() : std::span<const uint8_t>(p, count);
  }

  std::string_view text(size_t count) {
    auto b = bytes(count);
    return {reinterpret_cast<const char *>(b.data()), b.size()};
  }

  // Copies count bytes to out; zero-fills out and fails when fewer are left.
  bool read(void *out, size_t count) {
    const uint8_t *p = take(count);
    if (count == 0) return !failed_;
    if (failed_) {
      std::memset(out, 0, count);
      return false;
    }
    std::memcpy(out, p, count);
    return true;
  }

  uint8_t u8() {
    const uint8_t *p = take(1);
    return p ? p[0] : 0;
  }
  uint16_t u16le() {
    const uint8_t *p = take(2);
    return p ? static_cast<uint16_t>(p[0] | p[1] << 8) : 0;
  }
  uint32_t u32le() {
    const uint8_t *p = take(4);
    return p ? static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24
             : 0;
  }
  uint16_t u16be() {
    const uint8_t *p = take(2);
    return p ? static_cast<uint16_t>(p[0] << 8 | p[1]) : 0;
  }
  uint32_t u32be() {
    const uint8_t *p = take(4);
    return p ? static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                   static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3])
             : 0;
  }

 private:
  // The next count bytes, or null (and the failed state) when they are not all there.
  const uint8_t *take(size_t count) {
    if (failed_ || count > bytes_.size() - pos_) {
      failed_ = true;
      return nullptr;
    }
    const uint8_t *p = bytes_.data() + pos_;
    pos_ += count;
    return p;
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace brisk

#endif
