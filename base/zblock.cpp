// Compressed blocks and checksums: a thin layer over zlib. The block carries
// its own uncompressed length so the reader can allocate before inflating.
#include "base/zblock.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/log.h"
#include "base/mem.h"
#include "base/reader.h"

namespace {

std::atomic<int> g_level{9};

constexpr uint32_t kHeader = SYS_ZBLOCK_HEADER;

// Deflate cannot expand a byte of input to more than 1032 bytes of output
// (a 258-byte match coded in two bits), so a block announcing more than this
// many times its stream length is a lie and is refused before allocating.
constexpr uint64_t kMaxDeflateRatio = 1032;

void PutLe32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Shared body of SYS_ZUncompress and SYS_ZUncompressEx; available is the
// number of readable block bytes, or SIZE_MAX when the caller vouches for it.
int Uncompress(const void *block, size_t available, void **data, int *length) {
  errClear();
  if (!block || !data || !length) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  *data = nullptr;
  *length = 0;
  brisk::ByteReader header(block, std::min<size_t>(available, kHeader));
  const uint32_t size = header.u32le();
  const uint32_t stream = header.u32le();
  header.u32le();  // the CRC field is not checked here
  if (header.failed() || stream > available - kHeader) {
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  if (size == 0) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  if (size > static_cast<uint64_t>(stream) * kMaxDeflateRatio) {
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  if (size > static_cast<uint32_t>(INT_MAX)) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  auto *out = static_cast<uint8_t *>(SYS_MemGet(size, "z uncompress"));
  if (!out) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) {
    SYS_MemFree(out);
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  zs.next_in = const_cast<Bytef *>(static_cast<const Bytef *>(block) + kHeader);
  zs.avail_in = stream;
  zs.next_out = out;
  zs.avail_out = size;
  int rc;
  do {
    rc = inflate(&zs, Z_SYNC_FLUSH);
  } while (rc == Z_OK && zs.avail_in > 0);
  const uLong produced = zs.total_out;
  inflateEnd(&zs);
  // A stream that ends early would leave the tail of the buffer as zeros the
  // block never held: only exactly the announced length counts as success.
  if (rc != Z_STREAM_END || produced != size) {
    SYS_MemFree(out);
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  *data = out;
  *length = static_cast<int>(size);
  return 0;
}

}  // namespace

extern "C" int SYS_ZSetCompLevel(unsigned level) {
  errClear();
  if (level > 9) {
    errSetLastError(SYS_ERR_LEVEL);
    return -1;
  }
  g_level = static_cast<int>(level);
  return 0;
}

extern "C" int SYS_ZCompress(const void *data, int length, void **block, int *block_length) {
  errClear();
  if (!data || length <= 0 || !block || !block_length) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  *block = nullptr;
  *block_length = 0;
  z_stream zs{};
  if (deflateInit2(&zs, g_level.load(), Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  // The work buffer is length * 1.001 + 12 bytes, or zlib's own worst case
  // when that is larger, so that the finished stream always fits.
  const double wanted = std::round(static_cast<double>(length) * 1.001) + kHeader;
  const double bound = static_cast<double>(deflateBound(&zs, static_cast<uLong>(length)));
  const double work_size = std::max(wanted, bound);
  if (work_size > static_cast<double>(INT_MAX - kHeader)) {
    deflateEnd(&zs);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const auto work_length = static_cast<uInt>(work_size);
  auto *work = static_cast<uint8_t *>(SYS_MemGet(work_length, "z compress tmp"));
  if (!work) {
    deflateEnd(&zs);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  zs.next_in = const_cast<Bytef *>(static_cast<const Bytef *>(data));
  zs.avail_in = static_cast<uInt>(length);
  zs.next_out = work;
  zs.avail_out = work_length;
  int rc;
  do {
    rc = deflate(&zs, Z_NO_FLUSH);
  } while (rc == Z_OK && zs.avail_in > 0 && zs.avail_out > 0);
  rc = deflate(&zs, Z_FINISH);
  const uInt left = zs.avail_out;
  deflateEnd(&zs);
  // Anything short of the stream end would store a truncated stream.
  if (rc != Z_STREAM_END) {
    SYS_MemFree(work);
    errSetLastError(SYS_ERR_ZLIB);
    return -1;
  }
  const uInt stream = work_length - left;
  auto *out = static_cast<uint8_t *>(SYS_MemGet(stream + kHeader, "z compress"));
  if (!out) {
    SYS_MemFree(work);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  PutLe32(out, static_cast<uint32_t>(length));
  PutLe32(out + 4, stream);
  PutLe32(out + 8, static_cast<uint32_t>(crc32(0L, work, stream)));
  std::memcpy(out + kHeader, work, stream);
  SYS_MemFree(work);
  *block = out;
  *block_length = static_cast<int>(stream + kHeader);
  return 0;
}

extern "C" int SYS_ZUncompress(const void *block, void **data, int *length) {
  return Uncompress(block, SIZE_MAX, data, length);
}

extern "C" int SYS_ZUncompressEx(const void *block, int block_length, void **data, int *length) {
  return Uncompress(block, block_length > 0 ? static_cast<size_t>(block_length) : 0, data, length);
}

extern "C" unsigned SYS_ZCrc32(const void *data, int length) {
  errClear();
  if (!data || length <= 0) {
    errSetLastError(SYS_ERR_ARG);
    return 0xFFFFFFFFu;
  }
  return static_cast<unsigned>(crc32(0L, static_cast<const Bytef *>(data), static_cast<uInt>(length)));
}

extern "C" unsigned SYS_ZAdler(const void *data, int length) {
  errClear();
  if (!data || length <= 0) {
    errSetLastError(SYS_ERR_ARG);
    return 0xFFFFFFFFu;
  }
  return static_cast<unsigned>(adler32(1L, static_cast<const Bytef *>(data), static_cast<uInt>(length)));
}
