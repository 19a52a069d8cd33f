// Runtime glue: the show's sound track. StartMusic brings the sound system up
// at 44100 Hz stereo and starts the track's player thread; StopMusic stops
// and frees the track and shuts the sound system down. Main thread only.
#pragma once

#include "runtime/showstate.h"
#include "sound/fss.h"

// The track of the show's state under its public name (see ShowState). The
// show moves it with FSS_SetMusicTime when its clock is moved.
inline constexpr FSS_Music_p &showMusic = showState.music;

extern "C" {

// Starts the sound system and plays the Vorbis file `name` from its
// beginning. A sound system that cannot start ("Unable to initialise sound
// system.") or a track that cannot be loaded ("Unable to load music.") is
// fatal. Without a sound device the show runs silent (the log says so).
void StartMusic(const char *name);
// Stops and frees the track, then shuts the sound system down.
void StopMusic(void);

}  // extern "C"
