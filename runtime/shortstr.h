// Runtime glue: the short string.
//
// A short string is a length byte (0..255) followed by that many characters,
// without a terminator. A short string declared with a smaller capacity holds
// at most that many characters: every assignment or append cuts what does not
// fit. The registry, the interface records and the texture cache keep their
// names in this form and hand them to the framework through SYS_PChar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

template <std::size_t N>
struct ShortStr {
  static_assert(N >= 1 && N <= 255, "a short string holds at most 255 characters");
  static constexpr std::size_t capacity = N;

  std::uint8_t len = 0;
  char text[N] = {};

  constexpr ShortStr() = default;
  constexpr ShortStr(std::string_view s) { assign(s); }  // NOLINT: implicit like the language's own strings
  ShortStr(const char *s) { assign(s ? std::string_view(s) : std::string_view()); }  // NOLINT

  // Replaces the contents with s, cut to the capacity.
  constexpr ShortStr &assign(std::string_view s) {
    len = static_cast<std::uint8_t>(s.size() < N ? s.size() : N);
    for (std::size_t i = 0; i < len; ++i) text[i] = s[i];
    return *this;
  }
  // Appends s; whatever would pass the capacity is cut.
  constexpr ShortStr &append(std::string_view s) {
    std::size_t room = N - len;
    std::size_t n = s.size() < room ? s.size() : room;
    for (std::size_t i = 0; i < n; ++i) text[len + i] = s[i];
    len = static_cast<std::uint8_t>(len + n);
    return *this;
  }
  constexpr ShortStr &operator=(std::string_view s) { return assign(s); }
  constexpr ShortStr &operator+=(std::string_view s) { return append(s); }

  constexpr std::size_t size() const { return len; }
  constexpr bool empty() const { return len == 0; }
  constexpr std::string_view view() const { return {text, len}; }
  constexpr operator std::string_view() const { return view(); }  // NOLINT
  // The length byte followed by the characters, as the framework's SYS_PChar reads it.
  const unsigned char *raw() const { return reinterpret_cast<const unsigned char *>(this); }

  // Copies the text into a zero-terminated buffer of at least size() + 1 bytes.
  void copy_to(char *out) const {
    std::memcpy(out, text, len);
    out[len] = '\0';
  }

  friend constexpr bool operator==(const ShortStr &a, std::string_view b) { return a.view() == b; }
};

static_assert(sizeof(ShortStr<32>) == 33 && offsetof(ShortStr<32>, text) == 1,
              "a short string is its length byte followed by its characters");

using ShortString = ShortStr<255>;
