/* brisk!quantoven sound system: Ogg Vorbis streams read through the
 * framework's file layer.
 *
 * Decoded PCM is always 16-bit signed little-endian with the channels
 * interleaved. Positions and sizes in bytes count that PCM. Log lines carry
 * the tag "[vorbis]". */
#ifndef BRISK_SOUND_VORBIS_H
#define BRISK_SOUND_VORBIS_H

#include <stdint.h>

#include "base/file.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Vorbis_s {
  SYS_File_t *file; /* the open file; owned by the decoder once the stream is open */
  void *decoder;    /* the decoder state (an OggVorbis_File) */
  int size;         /* decoded size of the whole stream in bytes; -1 when unknown or above 2 GiB */
  int channels;     /* channel count of the first logical stream */
  int rate;         /* sample rate in Hz of the first logical stream */
} Vorbis_t;

/* Opens and identifies the stream in the file `name` (any file the file layer
 * can open). Null with error 1 when the file is missing or holds no Vorbis
 * stream (nothing stays open), 5 when out of memory. */
Vorbis_t *Vorbis_Open(const char *name);
/* Clears the decoder, which closes the file, and frees the record. 0; -1 with
 * error 10 for null. */
int Vorbis_Close(Vorbis_t *stream);
/* One decoder read of at most length bytes: the bytes written, 0 at the end of
 * the stream, a negative decoder code on error (-3 marks a recoverable hole in
 * the data; reading on continues after it). */
int Vorbis_Read(Vorbis_t *stream, void *buffer, int length);
/* The whole stream in a new tracked buffer of exactly `size` bytes (tag
 * "buffer"), owned by the caller. Never writes past `size`: more PCM than
 * promised is cut, less leaves zeros. Null with error 10 for a stream of
 * unknown or zero size, 5 when out of memory. */
void *Vorbis_Decode(Vorbis_t *stream);
/* Decoded position in bytes; -1 on error. */
int64_t Vorbis_Tell(Vorbis_t *stream);
/* Decoded position in seconds; -1.0 on error. */
double Vorbis_TellTime(Vorbis_t *stream);
/* Total decoded size in bytes; negative when unknown. */
int64_t Vorbis_Size(Vorbis_t *stream);
/* Seeks to the sample frame (bytes / channels) / 2; the decoder's result (0 done). */
int Vorbis_Seek(Vorbis_t *stream, int bytes);
/* Seeks to ms milliseconds; the decoder's result (0 done). */
int Vorbis_SeekTime(Vorbis_t *stream, int ms);

#ifdef __cplusplus
}
#endif

#endif
