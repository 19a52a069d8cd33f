/* brisk!quantoven base library: compressed blocks and checksums over zlib.
 *
 * A block is self-describing, all numbers little-endian 32-bit:
 *   0  uncompressed length
 *   4  compressed length n
 *   8  CRC-32 of the n compressed bytes
 *   12 the zlib stream (header, deflate data, Adler-32 trailer)
 * Pack archives store their catalog and their compressed entries this way. */
#ifndef BRISK_BASE_ZBLOCK_H
#define BRISK_BASE_ZBLOCK_H

#ifdef __cplusplus
extern "C" {
#endif

enum { SYS_ZBLOCK_HEADER = 12 };

/* Compression level of later SYS_ZCompress calls, 0..9 (default 9).
 * 0, or -1 with error 6 for a level above 9 (the level stays unchanged). */
int SYS_ZSetCompLevel(unsigned level);

/* Packs length bytes into a new tracked block (tag "z compress") and gives its
 * total length (n + 12). 0, or -1 with error 10 (null data or result, length
 * not positive), 5 (no memory) or 8 (zlib refused); nothing to release then. */
int SYS_ZCompress(const void *data, int length, void **block, int *block_length);

/* Unpacks a block into a new tracked buffer (tag "z uncompress") and gives its
 * length. 0, or -1 with error 10 (null argument), 5 (announced length 0 or no
 * memory) or 8 (the stream is broken, cut short, or does not yield exactly the
 * announced length); *data is null then. The block is trusted to hold the n
 * bytes its header announces: for bytes from a file use SYS_ZUncompressEx. */
int SYS_ZUncompress(const void *block, void **data, int *length);

/* SYS_ZUncompress of a block that lies in block_length readable bytes: a
 * block shorter than its header, or announcing more stream bytes than it
 * holds, fails with error 8 before anything is allocated. */
int SYS_ZUncompressEx(const void *block, int block_length, void **data, int *length);

/* zlib's CRC-32 (start value 0) and Adler-32 (start value 1) of the bytes.
 * Null data or length not positive: error 10 and 0xFFFFFFFF. */
unsigned SYS_ZCrc32(const void *data, int length);
unsigned SYS_ZAdler(const void *data, int length);

#ifdef __cplusplus
}
#endif

#endif
