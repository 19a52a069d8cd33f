// Conversion of single-byte ISO 8859 text to big-endian UCS-2 or UCS-4 code
// units through one 256-entry table per part (see tools/gen_iso8859.py).
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <iterator>

#include "base/log.h"
#include "base/str.h"

namespace {

#include "base/iso8859_tables.inc"

struct ConvRow {
  const char *name;
  int source;                   // ISO 8859 part number
  int target;                   // SYS_UCS2 or SYS_UCS4
  int unit_size;                // bytes per output unit
  const std::uint16_t *units;   // code point of each source byte
};

// Searched in this order; the first row matching source and target wins.
constexpr ConvRow kRows[] = {
    {"ISO88591 to UCS2", 1, SYS_UCS2, 2, kIso8859_1.data()},
    {"ISO88592 to UCS2", 2, SYS_UCS2, 2, kIso8859_2.data()},
    {"ISO88594 to UCS2", 4, SYS_UCS2, 2, kIso8859_4.data()},
    {"ISO88595 to UCS2", 5, SYS_UCS2, 2, kIso8859_5.data()},
    {"ISO88599 to UCS2", 9, SYS_UCS2, 2, kIso8859_9.data()},
    {"ISO885910 to UCS2", 10, SYS_UCS2, 2, kIso8859_10.data()},
    {"ISO885913 to UCS2", 13, SYS_UCS2, 2, kIso8859_13.data()},
    {"ISO885914 to UCS2", 14, SYS_UCS2, 2, kIso8859_14.data()},
    {"ISO885915 to UCS2", 15, SYS_UCS2, 2, kIso8859_15.data()},
    {"ISO88591 to UCS4", 1, SYS_UCS4, 4, kIso8859_1.data()},
    {"ISO88592 to UCS4", 2, SYS_UCS4, 4, kIso8859_2.data()},
    {"ISO88594 to UCS4", 4, SYS_UCS4, 4, kIso8859_4.data()},
    {"ISO88595 to UCS4", 5, SYS_UCS4, 4, kIso8859_5.data()},
    {"ISO88599 to UCS4", 9, SYS_UCS4, 4, kIso8859_9.data()},
    {"ISO885910 to UCS4", 10, SYS_UCS4, 4, kIso8859_10.data()},
    {"ISO885913 to UCS4", 13, SYS_UCS4, 4, kIso8859_13.data()},
    {"ISO885914 to UCS4", 14, SYS_UCS4, 4, kIso8859_14.data()},
    {"ISO885915 to UCS4", 15, SYS_UCS4, 4, kIso8859_15.data()},
};
static_assert(std::size(kRows) == 18);

}  // namespace

extern "C" int SYS_IConvToUCS(int source, int target, const char *text, int length, void *output,
                              int *output_length) {
  errClear();
  const auto *row = std::find_if(std::begin(kRows), std::end(kRows), [&](const ConvRow &r) {
    return r.source == source && r.target == target;
  });
  if (row == std::end(kRows) || !row->units) {
    errSetLastError(SYS_ERR_HANDLER);
    return -1;
  }
  // The output length must be representable; text and output are needed
  // whenever there is something to convert. output_length may be null.
  if (length < 0 || length > INT_MAX / row->unit_size || (length > 0 && (!text || !output))) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  auto *out = static_cast<unsigned char *>(output);
  for (int i = 0; i < length; ++i) {
    const std::uint32_t unit = row->units[static_cast<unsigned char>(text[i])];
    for (int b = row->unit_size - 1; b >= 0; --b) *out++ = static_cast<unsigned char>(unit >> (8 * b));
  }
  if (output_length) *output_length = length * row->unit_size;
  return 0;
}
