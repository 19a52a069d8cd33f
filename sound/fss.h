/* brisk!quantoven sound system: the one OpenAL output device and context of
 * the process, and the file callbacks through which the Vorbis decoder reads
 * a sound file from the framework's file layer (plain file, directory pack or
 * pack archive alike).
 *
 * The music streams (sound/fss_music.h) and the stream reader
 * (sound/vorbis.h) build on it. Log lines carry the tag "[fss]". */
#ifndef BRISK_SOUND_FSS_H
#define BRISK_SOUND_FSS_H

#include <stddef.h>
#include <stdint.h>

#include "sound/fss_music.h"
#include "sound/vorbis.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error code of the sound system beside the base library's SYS_ERR_*: the
 * request names a feature that is not implemented (music from memory). */
enum { FSS_ERR_NOT_IMPLEMENTED = 16 };

/* Mode of FSS_Init: low byte the rate selector, second byte the layout. */
enum {
  FSS_RATE_11025 = 1, FSS_RATE_22050 = 2, FSS_RATE_44100 = 3,
  FSS_RATE_48000 = 4, FSS_RATE_88200 = 5, FSS_RATE_96000 = 6,
  FSS_MONO = 0x100, FSS_STEREO = 0x200
};

/* Opens the output device ("DirectSound3D" first, then the default device),
 * creates one context with exactly one source of the chosen layout, makes it
 * current for the whole process and logs what the device reports. Only the
 * low two bytes of mode count. Returns 0, also when no device could be opened
 * (the log then says there is no sound); -1 with error 10 for a layout other
 * than mono or stereo or a rate selector outside 1..6, after the
 * "initialize..." line and before any OpenAL call. Main thread only. */
int FSS_Init(int mode);
/* Destroys the context and closes the device. Always 0. */
int FSS_Done(void);

/* Decoder file callbacks over an open SYS_File_t (the data source). They
 * report failure only by their result: 0 elements read, -1 from a seek. */
size_t _Vorbis_FileRead(void *buffer, size_t size, size_t count, void *file);
/* origin 0 from the start, 1 from the current position, 2 from the end;
 * any other origin seeks to 0. */
int _Vorbis_FileSeek(void *file, int64_t offset, int origin);
/* Closes the file; the stream owns it from a successful open on. Returns 0. */
int _Vorbis_FileClose(void *file);
long _Vorbis_FileTell(void *file);

#ifdef __cplusplus
}
#endif

#endif
