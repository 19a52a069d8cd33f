/* brisk!quantoven sound system: streamed music.
 *
 * A music record plays one Ogg Vorbis file through one OpenAL source while a
 * player thread ("FSS Music Player") decodes it into four buffers in rotation,
 * refilling each as soon as the source has played it. Start the sound system
 * (FSS_Init) before the first record and stop it after the last one is freed.
 *
 * Every call clears the last-error code on entry; a null record gives error
 * 10 and -1 (-1.0 for the volume). Log lines carry the tag "[fss][mus]". */
#ifndef BRISK_SOUND_FSS_MUSIC_H
#define BRISK_SOUND_FSS_MUSIC_H

#include <stdint.h>

#include "base/thread.h"
#include "sound/vorbis.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { FSS_MUSIC_BUFFERS = 4, FSS_MUSIC_FILL_BYTES = 32768 };

/* Record states. */
enum { FSS_STOPPED = 0, FSS_PLAYING = 1, FSS_PAUSED = 2, FSS_FINISHED = 3 };

typedef struct FSS_Music_s FSS_Music_t, *FSS_Music_p;

/* Fills one OpenAL buffer with the next decoded PCM; the byte count, 0 at the
 * end of the music. */
typedef int (*FSS_MusicFill_t)(FSS_Music_t *music, unsigned buffer);

/* Code outside the sound system reads at most name, buffers and source. */
struct FSS_Music_s {
  char *name;                          /* owned copy of the file name */
  unsigned buffers[FSS_MUSIC_BUFFERS]; /* OpenAL buffers of the rotation */
  unsigned source;                     /* OpenAL source */
  int state;                           /* FSS_STOPPED .. FSS_FINISHED */
  int kind;                            /* 0: an Ogg Vorbis file */
  int format;                          /* AL_FORMAT_MONO16 or AL_FORMAT_STEREO16 */
  int loop;                            /* nonzero: start again at the end */
  FSS_MusicFill_t fill;                /* set at creation */
  Vorbis_t *stream;
  int seekPos;                         /* pending seek by PCM byte position, -1 none */
  int seekTime;                        /* pending seek by milliseconds, -1 none */
  SYS_Thread_p thread;                 /* the player while one exists */
  SYS_Thread_Mutex_p mutex;
  /* private to the player */
  int ended;                           /* the player has left its loop by itself */
  int restarts;                        /* times the source ran dry and was started again */
};

/* New record for the Vorbis file `name`; kind must be 0 and memory 0. Null
 * with error 5 (out of memory), 10 (kind, or not one or two channels, logged
 * as "too many channels"), 16 (memory), or the stream's own code when the
 * file cannot be opened as Vorbis. Nothing is decoded or played yet. */
FSS_Music_t *FSS_NewMusic(int kind, const char *name, int memory);
/* Stops the player, releases the OpenAL objects, closes the stream, frees the record. */
int FSS_FreeMusic(FSS_Music_t *music);
/* Starts the player thread unless one is playing; resumes a paused player. */
int FSS_PlayMusic(FSS_Music_t *music);
/* Asks the player to stop and waits for its end; state becomes 0. */
int FSS_StopMusic(FSS_Music_t *music);
/* State becomes 2; the source toggles between paused and playing. */
int FSS_PauseMusic(FSS_Music_t *music);
/* Seek requests, taken by the player at its next fill: playback moves there
 * after the audio already queued. Position then time in one fill: time wins.
 * A request written while the player takes the previous one is kept for the
 * next fill. Negative values: error 10, -1. */
int FSS_SetMusicPos(FSS_Music_t *music, int bytes);
int FSS_SetMusicTime(FSS_Music_t *music, int ms);
/* Decoder position (ahead of what is heard by up to four buffers); -1 and
 * error 10 for a null record or a kind other than 0. */
int64_t FSS_GetMusicPos(FSS_Music_t *music);
int FSS_GetMusicTime(FSS_Music_t *music);
int FSS_GetMusicState(FSS_Music_t *music);
int FSS_SetMusicLoop(FSS_Music_t *music, int loop);
int FSS_GetMusicLoop(FSS_Music_t *music);
/* Gain 0.0 .. 1.0 inclusive, else error 10 and -1 with the source unchanged. */
int FSS_SetMusicVolume(FSS_Music_t *music, float gain);
float FSS_GetMusicVolume(FSS_Music_t *music);

#ifdef __cplusplus
}
#endif

#endif
