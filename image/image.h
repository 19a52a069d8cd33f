/* brisk!quantoven image loader: the image record, the format filters and the
 * conversions between pixel layouts.
 *
 * Every image, whatever its file format, becomes one txBitmap. Loading reads
 * the whole file through replaceable callbacks (txFunctions), asks each
 * filter in a fixed order whether the bytes are its format, and lets the
 * first that says yes build the record. Failures set the base library's
 * last-error code (base/log.h) and return null or -1.
 *
 * Used from one thread at a time: the module keeps its settings globally. */
#ifndef BRISK_IMAGE_IMAGE_H
#define BRISK_IMAGE_IMAGE_H

#ifdef __cplusplus
extern "C" {
#endif

enum { TX_MAX_LEVELS = 13 };

/* Error codes of the image loader (the base library's codes 1, 5, 9 and 10 also occur). */
enum {
  TX_ERR_WRITE = 2,         /* TGA and DDZ writers: the output file cannot be created or written */
  TX_ERR_READ = 3,          /* the default read callback got fewer bytes than the file's size */
  TX_ERR_UNKNOWN = 1000,    /* no filter knows the data; unknown filter; depth under 24 for a swap */
  TX_ERR_NULL = 1001,       /* txDup of null */
  TX_ERR_SHORT = 1002,      /* file too short for, or inconsistent with, what its header announces */
  TX_ERR_NOALPHA = 1003,    /* txAddAlphaChannel could not load its alpha image */
  TX_ERR_DEPTH = 1004,      /* conversion or reader given a depth it cannot handle */
  TX_ERR_CANTSTORE = 1005,  /* writer given an order or format it cannot store */
  TX_ERR_PNG_SETUP = 10000  /* the PNG writer could not set up its encoder */
};

/* Values of txBitmap.order. */
enum { TX_ORDER_BGR = 0, TX_ORDER_RGB = 1, TX_ORDER_DXT = 5 };

/* Values of txBitmap.format (while order is not TX_ORDER_DXT). */
enum {
  TX_FORMAT_NONE = -1,
  TX_FORMAT_RGB = 0,    /* three channels; writers take them blue first */
  TX_FORMAT_BGR = 1,    /* three channels; writers take them red first */
  TX_FORMAT_RGBA = 2,
  TX_FORMAT_GREY = 3,
  TX_FORMAT_INDEX = 4
};

/* Compressed formats (txBitmap.format while order is TX_ORDER_DXT) and the
 * txOptions numbers of the keep-compressed switches. */
enum { TX_DXT1 = 33776, TX_DXT3 = 33778, TX_DXT5 = 33779 };

/* Filter ids (txBitmap.fileType, txSave). */
enum {
  TX_FILE_TGA = 0, TX_FILE_JPEG = 1, TX_FILE_BMP = 2, TX_FILE_PNG = 3,
  TX_FILE_DDS = 4, TX_FILE_DDZ = 5, TX_FILE_PNM = 6, TX_FILE_DICOM = 7
};

/* txOptions numbers. */
enum {
  TX_OPT_DDZ = 0, TX_OPT_DEBUG = 1, TX_OPT_QUALITY = 2, TX_OPT_ORDER = 3, TX_OPT_FLIP = 4,
  TX_OPT_JPEG_BASELINE = 5, TX_OPT_JPEG_PROGRESSIVE = 6, TX_OPT_JPEG_OPTIMISE = 7,
  TX_OPT_JPEG_SMOOTHING = 8, TX_OPT_JPEG_QUALITY = 9, TX_OPT_PNG_LEVEL = 11,
  TX_OPT_GET_ORDER = 12
};

typedef unsigned int TImageSizeArray[TX_MAX_LEVELS];
typedef unsigned char *TImageArray[TX_MAX_LEVELS];

/* One image with up to 13 levels (level 0 the full image, further levels the
 * mipmaps of a DDS or DDZ file). Pixel rows run top row first, each directly
 * after the previous one: a level of width x height pixels takes
 * width * height * bpp / 8 bytes. The record owns its level buffers and its
 * palette; release it with txFree. */
typedef struct txBitmap {
  int order;      /* TX_ORDER_*: 0 blue first, 1 red first, 5 DXT blocks */
  int format;     /* TX_FORMAT_*, or TX_DXT* while order is 5; -1 for samples of
                   * other depths (16-bit PNG), which txLoad leaves unswapped */
  int fileType;   /* id of the filter that read the file */
  int fourcc;     /* four-character code of a DDS file, else 0 */
  int width, height;
  int bpp;        /* bits per pixel of the decoded layout: 8, 24, 32 (16 for 16-bit grey PNG ...) */
  int levels;     /* levels present, 1..13 */
  unsigned char *palette; /* 8-bit palette images of BMP and PNG, else null. An indexed
                           * record (format 4) has 256 four-byte entries: BMP blue, green,
                           * red, reserved; PNG red, green, blue, alpha (tRNS, else 255) */
  TImageSizeArray imageSize;
  TImageArray image;
} txBitmap;

/* File access of the loader. fOpen(name): 0 when opened (any file still open
 * is closed first), nonzero with the error code set. fRead(): a new tracked
 * buffer (base/mem.h) with the whole file, which the loader releases; null
 * with the error code set. fFSize(): the open file's size. fClose(): closes
 * it. fFExist(name): kept for the application, the loader never calls it. */
typedef struct txFunctions {
  int (*fOpen)(const char *name);
  void *(*fRead)(void);
  int (*fFSize)(void);
  int (*fClose)(void);
  int (*fFExist)(const char *name);
} txFunctions, *pxFunctions;

/* One entry of the loader's filter table. identify(bytes, size) answers 0
 * when the bytes are this format; read builds a record or returns null with
 * the error code set; write(name, bitmap) returns 0 or -1 (null for input-only
 * filters). */
typedef struct txFilter {
  int id;
  const char *name;
  const char *description;
  int (*identify)(const unsigned char *bytes, int size);
  txBitmap *(*read)(const unsigned char *buffer, int size);
  int (*write)(const char *name, txBitmap *bitmap);
} txFilter;

/* Bytes txIdentify may look at: the longest signature (DICOM) ends here. */
enum { TX_IDENTIFY_BYTES = 132 };

/* Installs the callbacks (null: the file layer's, base/file.h) and reads the
 * switches -debug-tl, -disable-dxt1, -disable-dxt3, -disable-dxt5. Returns 0. */
int txInit(pxFunctions functions);

/* Reads an image file: format by content, then the "_a" alpha map, the
 * wanted channel order, the flip and the texture quality (txOptions). */
txBitmap *txLoad(const char *name);

/* Writes bitmap with the filter whose id is given. 0, or -1 (1000 for an
 * unknown id or a filter without writer; else the writer's code). */
int txSave(int id, const char *name, txBitmap *bitmap);

/* Releases the record and all it owns, and clears *bitmap. -1 with code 10 for null. */
int txFree(txBitmap **bitmap);

/* A deep copy (every level and the palette); null with 1001 for null, 5 for memory. */
txBitmap *txDup(const txBitmap *bitmap);

/* A blank image of one level: type 0 and 1 give 24 bits, 2 gives 32, 3 gives 8
 * (type stored in order and format). Null with code 10 for another type or a
 * size that is not positive, 5 for memory. */
txBitmap *txCreateDummy(int type, int width, int height);

/* Loads name and merges its first channel into bitmap as the alpha channel
 * (24-bit images become 32-bit). 0, or -1 with 1003 when name does not load. */
int txAddAlphaChannel(const char *name, txBitmap *bitmap);

/* Sets a module setting (TX_OPT_*, TX_DXT*) and returns 0; TX_OPT_GET_ORDER
 * returns the wanted channel order. Unknown option: -1 with code 10. */
int txOptions(int option, int value);

int txGetDepth(const txBitmap *bitmap);
unsigned char *txGetImage(const txBitmap *bitmap, int level);
unsigned int txGetImageSize(const txBitmap *bitmap, int level);

/* The first filter whose recognition test accepts the bytes, or null with
 * code 1000. The buffer must hold at least TX_IDENTIFY_BYTES bytes. */
const txFilter *txIdentify(const void *buffer);

/* Conversions of level 0 (txSwapRB: of every level). 0, or -1 with the code
 * set (5 memory, 1000/1004 wrong depth); the image is unchanged on failure. */
int txSwapRB(txBitmap *bitmap);
int tx32to24(txBitmap *bitmap);
int tx24to32(txBitmap *bitmap);
int tx24to8(txBitmap *bitmap, int channel);
int tx8to24(txBitmap *bitmap);
/* A new 8-bit grey image of bitmap's level 0; weighted: 77/150/29 per 256. */
txBitmap *txIntensity(const txBitmap *bitmap, int weighted);
/* Writes count pixels of three bytes, the first three of each indexed 4-byte entry. */
void txExpandPalette(const unsigned char *indices, unsigned char *destination, int count,
                     const unsigned char *palette);
int txInvert(txBitmap *bitmap);

/* Shrinks level 0 to width x height with a box filter (magnifying is not
 * implemented and leaves the image as it is). 0, or -1 with the code set. */
int txScale(txBitmap *bitmap, int width, int height);

#ifdef __cplusplus
}
#endif

#endif
