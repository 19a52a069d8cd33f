// DDZ filter: DXT blocks with every mipmap level zlib-compressed on its own
// (or stored as it is where compressing does not pay).
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "base/zblock.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_dxt.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

constexpr size_t kHeader = 14;
constexpr size_t kBlockHeader = 12;  // uncompressed length, compressed length, CRC-32

// One level's blocks: a view into the file for a stored level, or a new
// buffer uncompressed from a compressed one. Null with the code set when the
// level is not exactly `bytes` long or does not uncompress.
struct LevelData {
  const unsigned char *data = nullptr;
  brisk::MemPtr<void> owned;  // tracked buffer from SYS_ZUncompressEx
};

bool TakeLevel(ByteReader &in, int32_t length, int64_t bytes, LevelData &out) {
  if (length <= 0) {
    const int64_t stored = -static_cast<int64_t>(length);
    auto raw = in.bytes(static_cast<size_t>(stored));
    if (!in.ok() || stored != bytes) return brisk::Fail(TX_ERR_SHORT, false);
    out.data = raw.data();
    return true;
  }
  auto block = in.bytes(static_cast<size_t>(length));
  if (!in.ok() || block.size() < kBlockHeader || Le32(block.data()) != bytes ||
      Le32(block.data() + 4) > block.size() - kBlockHeader)
    return brisk::Fail(TX_ERR_SHORT, false);
  void *unpacked = nullptr;
  int got = 0;
  const int result = SYS_ZUncompressEx(block.data(), static_cast<int>(block.size()), &unpacked, &got);
  out.owned = brisk::OwnMem(unpacked);
  if (result != 0 || got != bytes) return brisk::Fail(SYS_ERR_NOMEM, false);
  out.data = static_cast<const unsigned char *>(unpacked);
  return true;
}

const char *FourCCName(uint32_t fourcc) {
  switch (fourcc) {
    case FourCC('D', 'X', 'T', '1'): return "DXT1";
    case FourCC('D', 'X', 'T', '3'): return "DXT3";
    case FourCC('D', 'X', 'T', '5'): return "DXT5";
    default: return "unknown";
  }
}

}  // namespace

extern "C" int ddzIdentify(const unsigned char *p, int size) {
  if (p && size >= 4 && (std::memcmp(p, "DDZ ", 4) == 0 || std::memcmp(p, "FTX ", 4) == 0)) return 0;
  errSetLastError(TX_ERR_UNKNOWN);
  return -1;
}

extern "C" txBitmap *ddzRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, kHeader);
  if (in.failed()) return nullptr;
  const size_t total = in.remaining();
  in.skip(4);
  const int width = ReadI16(in), height = ReadI16(in);
  const uint32_t fourcc = in.u32le();
  const int count = ReadI16(in);
  const BlockFormat fmt = BlockFormatOf(fourcc);
  if (!PixelBytes(width, height, 4) || count < 1) return brisk::Fail(TX_ERR_SHORT, nullptr);

  BitmapPtr b(TL_NEW_BITMAP("ddsRead: struct"));
  if (!b) return nullptr;
  b->bpp = fmt.bpp;
  TL_DEBUG("TL][ddz", "DDZ: %s\n", LoadingName());
  TL_DEBUG("TL][ddz", " size: %dx%d bits: %d (%s)\n", width, height, b->bpp, fmt.name);
  TL_DEBUG("TL][ddz", " mipmap level: %d\n", count);
  TL_DEBUG("TL][ddz", " size: %d\n", static_cast<int>(total - kHeader));

  const int skip = LevelsToSkip(count);
  const bool decode = fmt.decode && (!fmt.keep || g_tl.ddz != 1);
  TL_DEBUG("TL][ddz", " decode: %s\n", decode ? "yes" : "no");
  b->order = decode ? TX_ORDER_RGB : TX_ORDER_DXT;
  b->format = decode ? fmt.decodedFormat : fmt.keptFormat;
  b->width = std::max(width >> skip, 1);
  b->height = std::max(height >> skip, 1);

  int kept = 0;
  int w = width, h = height;
  for (int level = 0; level < count && kept < TX_MAX_LEVELS; ++level, w >>= 1, h >>= 1) {
    const int32_t length = ReadI32(in);
    if (!in.ok()) return brisk::Fail(TX_ERR_SHORT, nullptr);
    if (level < skip) {
      if (!in.skip(static_cast<size_t>(std::llabs(static_cast<long long>(length)))))
        return brisk::Fail(TX_ERR_SHORT, nullptr);
      continue;
    }
    const int64_t bytes = LevelBlockBytes(w, h, fmt.blockBytes);
    LevelData level_data;
    if (!TakeLevel(in, length, bytes, level_data)) return brisk::FailKeep(TX_ERR_SHORT, nullptr);
    if (decode) {
      const int64_t out = LevelPixelBytes(w, h, fmt.bpp);
      b->image[kept] = static_cast<unsigned char *>(SYS_MemGet(out, "ddzRead: bitmap (mipmap, decompress)"));
      if (b->image[kept]) {
        b->imageSize[kept] = static_cast<unsigned>(out);
        fmt.decode(level_data.data, b->image[kept], std::max(w, 1), std::max(h, 1), fmt.bpp);
      }
    } else if (level_data.owned) {
      b->image[kept] = static_cast<unsigned char *>(level_data.owned.release());
      b->imageSize[kept] = static_cast<unsigned>(bytes);
    } else {
      b->image[kept] = static_cast<unsigned char *>(SYS_MemGet(bytes, "ddzRead: dec.nocomp."));
      if (b->image[kept]) std::memcpy(b->image[kept], level_data.data, static_cast<size_t>(bytes));
      b->imageSize[kept] = static_cast<unsigned>(bytes);
    }
    if (!b->image[kept]) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
    ++kept;
  }
  b->levels = kept;
  return b.release();
}

extern "C" int ddzWrite(const char *name, txBitmap *b) {
  // Only an image read from a DDS file with its blocks kept can be stored.
  if (!b || !name || b->fileType != TX_FILE_DDS || b->order != TX_ORDER_DXT || b->levels < 1 ||
      b->levels > TX_MAX_LEVELS || b->width > 32767 || b->height > 32767)
    return brisk::Fail(TX_ERR_UNKNOWN, -1);
  for (int i = 0; i < b->levels; ++i)
    if (!b->image[i] && b->imageSize[i]) return brisk::Fail(TX_ERR_UNKNOWN, -1);
  TL_DEBUG("TL][ddz", " write : %s\n", name);
  TL_DEBUG("TL][ddz", "  - size : %dx%d\n", b->width, b->height);
  TL_DEBUG("TL][ddz", "  - mipmap level: %d\n", b->levels);
  TL_DEBUG("TL][ddz", "  - fourcc : %s\n", FourCCName(static_cast<uint32_t>(b->fourcc)));

  brisk::FilePtr out = CreateOutput(name, TX_ERR_WRITE);
  if (!out) return -1;
  unsigned char header[kHeader];
  std::memcpy(header, "FTX ", 4);
  auto put16 = [](unsigned char *p, int v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
  };
  put16(header + 4, b->width);
  put16(header + 6, b->height);
  const uint32_t fourcc = static_cast<uint32_t>(b->fourcc);
  for (int i = 0; i < 4; ++i) header[8 + i] = static_cast<unsigned char>(fourcc >> (8 * i));
  put16(header + 12, b->levels);
  bool ok = WriteAll(out.get(), header, sizeof header);

  float raw = 0.0f, written = 0.0f;
  for (int i = 0; i < b->levels && ok; ++i) {
    const int size = static_cast<int>(b->imageSize[i]);
    void *block = nullptr;
    int blockSize = 0;
    const bool packed = b->image[i] && size > 0 && SYS_ZCompress(b->image[i], size, &block, &blockSize) == 0 &&
                        blockSize < size;
    errClear();
    TL_DEBUG("TL][ddz", "  - level %d : ", i);
    int32_t length = packed ? blockSize : -size;
    unsigned char lengthBytes[4];
    for (int k = 0; k < 4; ++k) lengthBytes[k] = static_cast<unsigned char>(static_cast<uint32_t>(length) >> (8 * k));
    ok = WriteAll(out.get(), lengthBytes, 4);
    if (packed) {
      ok = ok && WriteAll(out.get(), block, static_cast<size_t>(blockSize));
      SYS_DbgMsg(DebugLevel(), "%d -> %d (%.2f%%)\n", size, blockSize,
                 static_cast<double>(static_cast<float>(blockSize) / static_cast<float>(size) * 100.0f));
      written += static_cast<float>(blockSize);
    } else {
      ok = ok && (size == 0 || WriteAll(out.get(), b->image[i], static_cast<size_t>(size)));
      SYS_DbgMsg(DebugLevel(), "not compressed\n");
      written += static_cast<float>(size);
    }
    raw += static_cast<float>(size);
    SYS_MemFree(block);
  }
  if (!ok) return brisk::Fail(TX_ERR_WRITE, -1);
  TL_DEBUG("TL][ddz", "  - compressed : %.2f%%\n",
           static_cast<double>(raw > 0.0f ? written / raw * 100.0f : 0.0f));
  return 0;
}
