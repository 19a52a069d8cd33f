// Runtime glue: starting and stopping the show's sound track.
#include "runtime/music.h"

#include "runtime/registry.h"

FSS_Music_p showMusic = nullptr;

void StartMusic(const char *name) {
  if (FSS_Init(FSS_RATE_44100 | FSS_STEREO) != 0) SYS_FatalError("Unable to initialise sound system.");
  showMusic = FSS_NewMusic(0, name, 0);
  if (!showMusic) SYS_FatalError("Unable to load music.");
  if (FSS_PlayMusic(showMusic) != 0) SYS_WriteLn("[init] the music player could not be started: no sound.");
}

void StopMusic(void) {
  FSS_StopMusic(showMusic);
  FSS_FreeMusic(showMusic);
  showMusic = nullptr;
  FSS_Done();
}
