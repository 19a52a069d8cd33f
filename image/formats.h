/* brisk!quantoven image loader: the format filters.
 *
 * Readers take the whole file as one buffer with its size and return a new
 * txBitmap (rows top row first, levels = 1 except for DDS/DDZ) or null with
 * the error code set; they stay inside the buffer whatever it holds and leave
 * nothing allocated on failure. Writers store a record under a file name
 * through the file layer and return 0, or -1 with the error code set; a
 * writer that swaps channels for writing swaps them back. */
#ifndef BRISK_IMAGE_FORMATS_H
#define BRISK_IMAGE_FORMATS_H

#include "image/image.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Recognition tests: 0 when the first size bytes are of the format. */
int tgaIdentify(const unsigned char *bytes, int size);
int bmpIdentify(const unsigned char *bytes, int size);
int pnmIdentify(const unsigned char *bytes, int size);
int dicomIdentify(const unsigned char *bytes, int size);
int pngIdentify(const unsigned char *bytes, int size);
int jpegIdentify(const unsigned char *bytes, int size);
int ddsIdentify(const unsigned char *bytes, int size);
/* Also sets code 1000 when the bytes are not DDZ. */
int ddzIdentify(const unsigned char *bytes, int size);

/* Uncompressed true colour, colour-mapped (8-bit indices) and grey Targa. */
txBitmap *tgaRead(const unsigned char *buffer, int size);
int tgaWrite(const char *name, txBitmap *bitmap);

/* Windows bitmap, 8 bits and more, uncompressed. */
txBitmap *bmpRead(const unsigned char *buffer, int size);

/* Binary PGM (P5) and PPM (P6) with maximum value 255. */
txBitmap *pnmRead(const unsigned char *buffer, int size);
int pnmWrite(const char *name, txBitmap *bitmap);

/* DICOM, explicit VR little endian, uncompressed pixel data. */
txBitmap *dicomRead(const unsigned char *buffer, int size);

txBitmap *pngRead(const unsigned char *buffer, int size);
int pngWrite(const char *name, txBitmap *bitmap);

txBitmap *jpegRead(const unsigned char *buffer, int size);
/* A 32-bit image is written as two files: the colour under name, the alpha
 * channel as grey under name with "_a" before its extension. */
int jpegWrite(const char *name, txBitmap *bitmap);

/* DXT1/3/5 block images; blocks kept or decoded by the keep-compressed switches. */
txBitmap *ddsRead(const unsigned char *buffer, int size);
txBitmap *ddzRead(const unsigned char *buffer, int size);
/* Writes an image read from a DDS file with its blocks kept as DDZ. */
int ddzWrite(const char *name, txBitmap *bitmap);

/* Decode one level of blocks into rows of width * depth / 8 bytes; pixels
 * outside width x height are not written. The blocks must cover the level:
 * max(1, (width + 3) / 4) * max(1, (height + 3) / 4) blocks of 8 (DXT1) or
 * 16 bytes. Depth 24 or 32; the alpha byte is written at 32 only. */
void dxt1Decompress(const unsigned char *blocks, unsigned char *destination, int width, int height, int depth);
void dxt3Decompress(const unsigned char *blocks, unsigned char *destination, int width, int height, int depth);
void dxt5Decompress(const unsigned char *blocks, unsigned char *destination, int width, int height, int depth);

#ifdef __cplusplus
}
#endif

#endif
