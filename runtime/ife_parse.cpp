// Runtime glue: the ".ife" line reader, the key-line fields and the parser
// (see ife.h for the format, ife_parse.h for what the parser refuses).
#include "runtime/ife_parse.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/base.h"
#include "runtime/registry.h"

extern "C" {
std::int32_t ifeBufTextures[8] = {};
std::int32_t ifeRenderTarget = 0;
std::int32_t ifeGlowTexture = 0;
}

namespace {

// SYS_FileGetStr's buffer: 511 characters and the terminator.
constexpr int kLineBuffer = 512;
// How much of an offending line a message quotes.
constexpr std::size_t kQuoted = 40;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Without blanks and control characters at both ends.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Cuts the line end that pack entries keep (plain files lose it in the file layer).
void DropLineEnd(char *text) {
  std::size_t n = std::strlen(text);
  if (n > 0 && text[n - 1] == '\n') --n;
  if (n > 0 && text[n - 1] == '\r') --n;
  text[n] = '\0';
}

// A chunk that filled the buffer without reaching a line end: the line goes on.
bool LineGoesOn(const char *chunk) {
  const std::size_t n = std::strlen(chunk);
  return n == kLineBuffer - 1 && chunk[n - 1] != '\n';
}

// The data lines of an open file, counting the physical lines read.
class LineSource {
 public:
  explicit LineSource(SYS_File_t *file) : file_(file) {}

  // The next data line: comments skipped, logged as read (with a line end), trimmed and cut to
  // 255 characters. False at the end of the file.
  bool Next(ShortString *line) {
    do {
      if (!Physical()) return false;
    } while (buffer_[0] == '#');
    // Logged as a whole line, so that the next log line starts on its own.
    SYS_DbgLog((std::string(buffer_) + '\n').c_str());
    line->assign(Trim(buffer_));
    return true;
  }

  // Number of the last physical line read, from 1.
  int line() const { return line_; }

 private:
  // One physical line into buffer_, without its line end. A line longer than
  // the buffer keeps its first 511 characters; the rest of it is dropped, so
  // that its tail is not read as the next line.
  bool Physical() {
    if (!SYS_FileGetStr(file_, buffer_, kLineBuffer)) return false;
    ++line_;
    bool goes_on = LineGoesOn(buffer_);
    DropLineEnd(buffer_);
    char rest[kLineBuffer];
    while (goes_on && SYS_FileGetStr(file_, rest, kLineBuffer)) goes_on = LineGoesOn(rest);
    return true;
  }

  SYS_File_t *file_;
  char buffer_[kLineBuffer] = {};
  int line_ = 0;
};

// Field n (from 1) of a key line: the text between the (n-1)-th and the n-th
// blank, trimmed; empty when the line has fewer fields.
std::string_view FieldText(std::string_view line, int n) {
  std::size_t start = 0, end = 0;
  std::string_view field;
  for (int i = 0; i < n; ++i) {
    if (start > line.size()) return {};
    ++end;
    while (end < line.size() && line[end] != ' ') ++end;
    field = start < line.size() ? line.substr(start, end - start) : std::string_view();
    start = end + 1;
  }
  return Trim(field);
}

std::string_view Digits(std::string_view s, std::size_t *at) {
  const std::size_t from = *at;
  while (*at < s.size() && IsDigit(s[*at])) ++*at;
  return s.substr(from, *at - from);
}

// A decimal number (sign, digits, fraction after ".", exponent after "E" or
// "e") in single precision; 0 for anything else, a value beyond single
// precision included.
float ParseNumber(std::string_view s) {
  std::size_t at = 0;
  const bool negative = at < s.size() && s[at] == '-';
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
  const std::string_view whole = Digits(s, &at);
  std::string_view fraction;
  if (at < s.size() && s[at] == '.') {
    ++at;
    fraction = Digits(s, &at);
  }
  if (whole.empty() && fraction.empty()) return 0;
  std::string_view exponent;
  bool negative_exponent = false;
  if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
    ++at;
    negative_exponent = at < s.size() && s[at] == '-';
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
    exponent = Digits(s, &at);
    if (exponent.empty()) return 0;
  }
  if (at != s.size()) return 0;
  // One spelling that from_chars reads the same everywhere: digits "." digits "e" exponent.
  std::string text(whole.empty() ? "0" : whole);
  text.append(".").append(fraction.empty() ? "0" : fraction).append(negative_exponent ? "e-" : "e");
  text.append(exponent.empty() ? "0" : exponent);
  float value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return negative ? -value : value;
}

// A whole line that is a decimal integer of int32: optional sign and digits.
bool ParseInteger(std::string_view s, std::int32_t *out) {
  std::size_t at = 0;
  const bool negative = at < s.size() && s[at] == '-';
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
  const std::string_view digits = Digits(s, &at);
  if (digits.empty() || at != s.size()) return false;
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::int64_t{1} << 31) return false;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return false;
  *out = static_cast<std::int32_t>(value);
  return true;
}

// Nearest integer, halves to the even neighbour (whatever the FPU's mode).
double RoundHalfEven(double v) {
  const double low = std::floor(v);
  const double above = v - low;
  if (above != 0.5) return above < 0.5 ? low : low + 1;
  return std::fmod(low, 2.0) == 0 ? low : low + 1;
}

std::int32_t KeyTime(float v) {
  const double r = RoundHalfEven(v);
  if (r >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (r <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

// The low eight binary digits of the rounded value (exact for every float).
std::uint8_t KeyEase(float v) {
  double low = std::fmod(RoundHalfEven(v), 256.0);
  if (low < 0) low += 256.0;
  return static_cast<std::uint8_t>(low);
}

template <class T>
void FreeBlock(T *&block) {
  void *p = block;
  SYS_PasFreeMem(&p);
  block = nullptr;
}

// Releases a record under construction unless it is handed on.
class RecordOwner {
 public:
  explicit RecordOwner(ife_interface *record) : record_(record) {}
  ~RecordOwner() {
    if (record_) IfeFree(record_);
  }
  RecordOwner(const RecordOwner &) = delete;
  RecordOwner &operator=(const RecordOwner &) = delete;
  void release() { record_ = nullptr; }

 private:
  ife_interface *record_;
};

class Parser {
 public:
  Parser(SYS_File_t *file, const char *name, std::string *error)
      : file_(file), lines_(file), name_(name ? name : ""), error_(error) {}

  bool Run(const ShortString &prefix, const IfeTextureResolver &resolve, ife_interface *out) {
    ife_interface record{};
    RecordOwner owner(&record);
    std::int32_t layers = 0;
    if (!Integer(&layers, "the layer count") || !Count(layers, IFE_MAX_LAYERS, 5, 1, "the layer count")) return false;
    if (!Integer(&record.param, "the second header value")) return false;
    if (layers > 0) {
      record.layers = static_cast<ife_layer *>(SYS_PasGetMem(layers * std::int32_t{sizeof(ife_layer)}, "Interface layers"));
      if (!record.layers) return Fail(lines_.line(), "no memory for " + std::to_string(layers) + " layers");
    }
    record.layerCount = layers;
    for (std::int32_t i = 0; i < layers; ++i) {
      ife_layer &layer = record.layers[i];
      const std::string which = "layer " + std::to_string(i + 1);
      if (!Text(&layer.image, "the image name of " + which) || !Text(&layer.text2, "the second text of " + which))
        return false;
      layer.texture = resolve ? resolve(layer.image, prefix) : 0;
      std::int32_t keys = 0, blend = 0;
      if (!Text(&layer.text3, "the third text of " + which)) return false;
      const std::string count = "the key count of " + which;
      if (!Integer(&keys, count) || !Count(keys, IFE_MAX_KEYS, 1, 1 + 5L * (layers - 1 - i), count)) return false;
      if (!Integer(&blend, "the blend mode of " + which)) return false;
      layer.blend = static_cast<std::uint8_t>(blend & 0xFF);
      if (keys > 0) {
        layer.keys = static_cast<ife_keys *>(
            SYS_PasGetMem(keys * std::int32_t{sizeof(ife_keys)}, "Animation keys for interface"));
        if (!layer.keys) return Fail(lines_.line(), "no memory for " + std::to_string(keys) + " keys");
      }
      layer.keyCount = keys;
      for (std::int32_t k = 0; k < keys; ++k) {
        ShortString line;
        if (!Text(&line, "key " + std::to_string(k + 1) + " of " + which)) return false;
        ife_keys &key = layer.keys[k];
        key.time = KeyTime(IfeField(line, 1));
        key.x = IfeField(line, 2);
        key.y = IfeField(line, 3);
        key.ease = KeyEase(IfeField(line, 4));
        key.angle = IfeField(line, 5);
        key.width = IfeField(line, 6);
        key.height = IfeField(line, 7);
        key.red = IfeField(line, 8);
        key.green = IfeField(line, 9);
        key.blue = IfeField(line, 10);
        key.alpha = IfeField(line, 11);
      }
    }
    *out = record;
    owner.release();
    return true;
  }

 private:
  bool Fail(int line, const std::string &what) {
    if (error_) *error_ = "Interface file " + name_ + ", line " + std::to_string(line) + ": " + what;
    return false;
  }

  // The next data line, or a failure when the file ends first.
  bool Text(ShortString *out, const std::string &what) {
    if (lines_.Next(out)) return true;
    return Fail(lines_.line() + 1, "the file ends before " + what);
  }

  bool Integer(std::int32_t *out, const std::string &what) {
    ShortString line;
    if (!Text(&line, what)) return false;
    if (ParseInteger(line.view(), out)) return true;
    std::string quoted(line.view().substr(0, kQuoted));
    if (line.size() > kQuoted) quoted += "...";
    return Fail(lines_.line(), what + " \"" + quoted + "\" is not an integer");
  }

  // A count within 0..limit whose count * per + after data lines fit in
  // the bytes left (each data line takes at least one).
  bool Count(std::int32_t count, std::int32_t limit, long per, long after, const std::string &what) {
    const std::string said = what + " " + std::to_string(count);
    if (count < 0) return Fail(lines_.line(), said + " is negative");
    if (count > limit) return Fail(lines_.line(), said + " is more than " + std::to_string(limit));
    const long left = Remaining();
    if (left >= 0 && count * per + after > left)
      return Fail(lines_.line(), said + " needs more lines than the rest of the file holds");
    return true;
  }

  // Bytes from the read position to the end; -1 when the file cannot tell.
  long Remaining() const {
    if (file_->size < 0) return -1;
    const int at = SYS_FileTell(file_);
    if (at < 0) return -1;
    return at >= file_->size ? 0 : static_cast<long>(file_->size) - at;
  }

  SYS_File_t *file_;
  LineSource lines_;
  std::string name_;
  std::string *error_;
};

}  // namespace

ShortString IfeReadLine(SYS_File_t *file) {
  LineSource lines(file);
  ShortString line;
  lines.Next(&line);
  return line;
}

float IfeField(const ShortString &line, int n) { return ParseNumber(FieldText(line.view(), n)); }

bool IfeParse(SYS_File_t *file, const char *name, const ShortString &prefix, const IfeTextureResolver &resolve,
              ife_interface *record, std::string *error) {
  if (!file || !record) {
    if (error) *error = std::string("Interface file ") + (name ? name : "") + ": nothing to read";
    return false;
  }
  return Parser(file, name, error).Run(prefix, resolve, record);
}

void IfeFree(ife_interface *record) {
  if (!record) return;
  if (record->layers)
    for (std::int32_t i = 0; i < record->layerCount; ++i) FreeBlock(record->layers[i].keys);
  FreeBlock(record->layers);
  *record = ife_interface{};
}

bool IfeSpecialTexture(std::string_view image, std::int32_t *texture) {
  std::int32_t found = 0;
  bool special = true;
  if (image == "white.tga") {
    found = 0;
  } else if (image.size() == 8 && image.substr(0, 3) == "BUF" && image[3] >= '0' && image[3] <= '7' &&
             image.substr(4) == ".JPG") {
    found = ifeBufTextures[image[3] - '0'];
  } else if (image.substr(0, 3) == "BUF") {
    found = 0;
  } else if (image == "RT") {
    found = ifeRenderTarget;
  } else if (image == "GLOW") {
    found = ifeGlowTexture;
  } else {
    special = false;
  }
  if (special && texture) *texture = found;
  return special;
}

ShortString IfeTexturePath(const ShortString &prefix, const ShortString &image) {
  if (prefix.empty()) return image;
  ShortString path(prefix.view());
  path.append("/").append(image.view());
  return path;
}
