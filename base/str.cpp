// In-place string edits, the field cutter the configuration and phrase
// readers are built on, pattern replacement and URI escaping.
//
// Characters are compared as char, so a separator or swap character may be
// given either as a (possibly negative) char value or as its byte value.
#include "base/str.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/log.h"
#include "base/mem.h"

namespace {

// atoi without its undefined overflow: values outside int saturate.
int ToInt(const char *text) {
  const int saved = errno;
  long value = std::strtol(text, nullptr, 10);
  errno = saved;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// strtoul with a 32-bit result: "-n" wraps around as strtoul does, magnitudes
// beyond 32 bits saturate as they would with a 32-bit unsigned long.
unsigned ToUnsigned(const char *text) {
  const int saved = errno;
  errno = 0;
  unsigned long value = std::strtoul(text, nullptr, 10);
  const bool range = errno == ERANGE;
  errno = saved;
  if (range) return UINT_MAX;
  if (value <= UINT_MAX || -value <= UINT_MAX) return static_cast<unsigned>(value);
  return UINT_MAX;
}

float ToFloat(const char *text) { return std::strtof(text, nullptr); }

// Cuts field index of source into a tracked copy and converts it; separator 0
// converts the whole source.
template <class Convert>
auto CutAndConvert(const char *source, int separator, int index, Convert convert)
    -> decltype(convert(source)) {
  if (!source) return 0;
  if (static_cast<char>(separator) == 0) return convert(source);
  char *field = SYS_StrDup(source);
  if (!field) {
    errSetLastError(SYS_ERR_NOMEM);
    return 0;
  }
  SYS_Cut(field, field, separator, index);
  auto value = convert(field);
  SYS_MemFree(field);
  return value;
}

constexpr bool IsUriPlain(unsigned char c) {
  return c == '.' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Value of a hexadecimal digit (either case), or -1.
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

extern "C" char *SYS_TrimLeft(char *text) {
  errClear();
  if (!text) return nullptr;
  const size_t skip = std::strspn(text, " ");
  if (skip) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
  return text;
}

extern "C" char *SYS_Trim(char *text) {
  if (!SYS_TrimLeft(text)) return nullptr;
  size_t length = std::strlen(text);
  while (length && text[length - 1] == ' ') --length;
  text[length] = 0;
  return text;
}

extern "C" char *SYS_StrSwap(char *text, int from, int to) {
  errClear();
  if (!text) return nullptr;
  const char f = static_cast<char>(from), t = static_cast<char>(to);
  for (char *p = text; *p; ++p) {
    if (*p != f) continue;
    *p = t;
    if (t == 0) break;  // the text ends here
  }
  return text;
}

extern "C" int SYS_Items(const char *text, int c) {
  errClear();
  if (!text) return 0;
  const char wanted = static_cast<char>(c);
  if (wanted == 0) return 0;
  int count = 0;
  for (const char *p = text; *p; ++p)
    if (*p == wanted) ++count;
  return count;
}

extern "C" char *SYS_Cut(const char *source, char *target, int separator, int index) {
  errClear();
  const char sep = static_cast<char>(separator);
  if (!source || !target || sep == 0) return nullptr;
  // Writing never overtakes reading (out <= j), so target may be source.
  long long count = 0;
  size_t out = 0;
  for (size_t j = 0; source[j] != 0; ++j) {
    const char c = source[j];
    if (c == sep) ++count;
    if (count < index) continue;
    if (c != sep) target[out++] = c;
    if (source[j + 1] == sep) break;
  }
  target[out] = 0;
  return target;
}

extern "C" int SYS_Cuti(const char *source, int separator, int index) {
  errClear();
  return CutAndConvert(source, separator, index, ToInt);
}

extern "C" unsigned SYS_Cutu(const char *source, int separator, int index) {
  errClear();
  return CutAndConvert(source, separator, index, ToUnsigned);
}

extern "C" float SYS_Cutf(const char *source, int separator, int index) {
  errClear();
  return CutAndConvert(source, separator, index, ToFloat);
}

extern "C" char *SYS_StrRep(const char *text, const char *pattern, const char *replacement) {
  errClear();
  if (!text || !pattern || !replacement) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  const std::string_view in(text), pat(pattern), rep(replacement);

  // An empty pattern matches nowhere: the result is a copy of the text.
  size_t matches = 0;
  if (!pat.empty())
    for (size_t at = in.find(pat); at != in.npos; at = in.find(pat, at + pat.size())) ++matches;

  // Result length plus terminator must fit the allocator's int size.
  constexpr size_t kLimit = INT_MAX;
  const size_t kept = in.size() - matches * pat.size();
  if (kept >= kLimit || (matches && rep.size() > (kLimit - 1 - kept) / matches)) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  const size_t size = kept + matches * rep.size() + 1;
  auto *result = static_cast<char *>(SYS_MemGet(size, "SYS_StrRep: new buffer"));
  if (!result) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }

  char *out = result;
  size_t from = 0;
  if (!pat.empty()) {
    for (size_t at = in.find(pat); at != in.npos; at = in.find(pat, from)) {
      out = std::copy(in.begin() + from, in.begin() + at, out);
      out = std::copy(rep.begin(), rep.end(), out);
      from = at + pat.size();
    }
  }
  out = std::copy(in.begin() + from, in.end(), out);
  *out = 0;
  return result;
}

extern "C" char *SYS_StrLwr(char *text) {
  errClear();
  if (!text) return nullptr;
  for (char *p = text; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  return text;
}

extern "C" char *SYS_StrUpr(char *text) {
  errClear();
  if (!text) return nullptr;
  for (char *p = text; *p; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return text;
}

extern "C" char *SYS_Str2Uri(const char *source, char *target) {
  errClear();
  if (!source || !target) return nullptr;
  if (!*source) return const_cast<char *>(source);
  static constexpr char kHex[] = "0123456789ABCDEF";
  char *out = target;
  for (const char *p = source; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (IsUriPlain(c)) {
      *out++ = static_cast<char>(c);
    } else {
      *out++ = '%';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
  }
  *out = 0;
  return target;
}

extern "C" char *SYS_Uri2Str(const char *source, char *target) {
  errClear();
  if (!source || !target) return nullptr;
  if (!*source) return const_cast<char *>(source);
  // A '%' not followed by two hexadecimal digits is copied as it is. The
  // second digit is only read when the first one is a digit (not the
  // terminator), so reading stays inside the text. Output never overtakes
  // input, so target may be source.
  size_t out = 0;
  for (size_t j = 0; source[j];) {
    const int high = source[j] == '%' ? HexValue(source[j + 1]) : -1;
    const int low = high >= 0 ? HexValue(source[j + 2]) : -1;
    if (low >= 0) {
      target[out++] = static_cast<char>(high * 16 + low);
      j += 3;
    } else {
      target[out++] = source[j++];
    }
  }
  target[out] = 0;
  return target;
}
