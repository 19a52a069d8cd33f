// Runtime glue: starting and stopping the show's sound track.
#include "runtime/music.h"

#include "runtime/registry.h"

void StartMusic(const char *name) {
  if (FSS_Init(FSS_RATE_44100 | FSS_STEREO) != 0) SYS_FatalError("Unable to initialise sound system.");
  showState.music = FSS_NewMusic(0, name, 0);
  if (!showState.music) SYS_FatalError("Unable to load music.");
  if (FSS_PlayMusic(showState.music) != 0) SYS_WriteLn("[init] the music player could not be started: no sound.");
}

void StopMusic(void) {
  FSS_StopMusic(showState.music);
  FSS_FreeMusic(showState.music);
  showState.music = nullptr;
  FSS_Done();
}
