// Streamed music: a player thread keeps four OpenAL buffers in rotation on
// one source, refilling each with freshly decoded Vorbis PCM as soon as the
// source has played it.
//
// Threads: the caller's thread runs every public call; the player thread runs
// _FSS_MusicPlayer and the fills. Both use the process's one OpenAL context.
// The record's mutex guards the decoder (fills and position queries) and the
// state word; seek requests are single words handed over atomically.
#include "sound/fss_music.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "base/thread.h"
#include "base/timer.h"
#include "sound/fss.h"
#include "sound/vorbis.h"

extern "C" int _FSS_MusicFill(FSS_Music_t *music, unsigned buffer);
extern "C" int _FSS_MusicPlayer(void *data);

namespace {

constexpr int kNoRequest = -1;
constexpr int kPlayerPriority = 2;
constexpr const char *kPlayerName = "FSS Music Player";
// Holes (corrupt or missing pages) skipped in a row before a fill gives up.
constexpr int kMaxHoles = 64;

// Closes a stream that a failing FSS_NewMusic gives up. Vorbis_Close clears
// the error code on entry: the code of the failure is kept, as by every owner.
struct StreamCloser {
  void operator()(Vorbis_t *stream) const noexcept {
    brisk::KeepingError([&] { Vorbis_Close(stream); });
  }
};
using StreamPtr = std::unique_ptr<Vorbis_t, StreamCloser>;

// Words shared between the caller and the player.
int Load(int &word) { return std::atomic_ref<int>(word).load(); }
void Store(int &word, int value) { std::atomic_ref<int>(word).store(value); }
// Takes a pending request and leaves "none" in one step, so a request written
// meanwhile is never cleared unseen: it stays for the next fill.
int Take(int &word) { return std::atomic_ref<int>(word).exchange(kNoRequest); }

bool Reject(FSS_Music_t *music) { return music ? false : brisk::Fail(SYS_ERR_ARG, true); }

// Decodes into area until it is full or the stream has nothing more; the byte count.
int ReadArea(Vorbis_t *stream, char *area, int capacity) {
  int done = 0;
  int holes = 0;
  while (done < capacity) {
    const int got = Vorbis_Read(stream, area + done, capacity - done);
    if (got == -3 /* OV_HOLE: a damaged page, reading on resumes after it */ && ++holes <= kMaxHoles) continue;
    if (got <= 0) break;
    holes = 0;
    done += got;
  }
  return done;
}

ALint SourceInt(ALuint source, ALenum what) {
  ALint value = 0;
  alGetSourcei(source, what, &value);
  return value;
}

// Takes every buffer off the (stopped) source.
void UnqueueAll(ALuint source) {
  ALuint out[FSS_MUSIC_BUFFERS];
  ALint queued = std::clamp<ALint>(SourceInt(source, AL_BUFFERS_QUEUED), 0, FSS_MUSIC_BUFFERS);
  if (queued > 0) alSourceUnqueueBuffers(source, queued, out);
}

// The stop request of the calling player thread.
bool StopRequested() { return SYS_ThreadExit(SYS_ThreadSelf()) != 0; }

// Ends the player: the source stops, its buffers come off the queue, state 3.
[[noreturn]] void Finish(FSS_Music_t *music) {
  alSourceStop(music->source);
  UnqueueAll(music->source);
  {
    brisk::MutexLock lock(music->mutex);
    Store(music->state, FSS_FINISHED);
    music->ended = 1;
  }
  SYS_MSG(2, "fss][mus", "[_FSS_MusicPlayer] stop playing...\n");
  SYS_ThreadExit(nullptr);
  __builtin_unreachable();
}

// A refill that came too late finds the source stopped by OpenAL, and it
// would stay silent for good. Everything queued before the fresh buffer at
// the tail has been heard: refill those behind it and start the source again.
void Revive(FSS_Music_t *music) {
  const ALuint source = music->source;
  const ALint stale = SourceInt(source, AL_BUFFERS_QUEUED) - 1;
  for (ALint i = 0; i < stale; ++i) {
    ALuint buffer = 0;
    alSourceUnqueueBuffers(source, 1, &buffer);
    if (music->fill(music, buffer) == 0) Finish(music);
    alSourceQueueBuffers(source, 1, &buffer);
  }
  alSourcePlay(source);
  const int restarts = Load(music->restarts) + 1;
  Store(music->restarts, restarts);
  SYS_MSG(1, "fss][mus", "[_FSS_MusicPlayer] source ran dry, started again (%d)\n", restarts);
}

}  // namespace

extern "C" int _FSS_MusicFill(FSS_Music_t *music, unsigned buffer) {
  char area[FSS_MUSIC_FILL_BYTES];
  brisk::MutexLock lock(music->mutex);
  Vorbis_t *stream = music->stream;
  if (const int pos = Take(music->seekPos); pos != kNoRequest) Vorbis_Seek(stream, pos);
  if (const int ms = Take(music->seekTime); ms != kNoRequest) Vorbis_SeekTime(stream, ms);
  int bytes = ReadArea(stream, area, sizeof area);
  if (bytes == 0) {
    if (!Load(music->loop)) return 0;
    // Rewind once; a stream that yields nothing even from its start ends here.
    Vorbis_Seek(stream, 0);
    bytes = ReadArea(stream, area, sizeof area);
    if (bytes == 0) return 0;
  }
  // OpenAL takes whole sample frames only.
  const int frame = stream->channels * 2;
  bytes -= bytes % frame;
  if (bytes == 0) return 0;
  alBufferData(buffer, music->format, area, bytes, stream->rate);
  return bytes;
}

extern "C" int _FSS_MusicPlayer(void *data) {
  auto *music = static_cast<FSS_Music_t *>(data);
  const ALuint source = music->source;
  SYS_MSG(2, "fss][mus", "[_FSS_MusicPlayer] start playing...\n");

  if (!alcGetCurrentContext()) {
    // No device: nothing can be heard, so nothing is decoded; wait to be stopped.
    SYS_MSG(1, "fss][mus", "[_FSS_MusicPlayer] no sound device: \"%s\" is not heard\n", music->name);
    while (!StopRequested()) SYS_Sleep(1);
    Finish(music);
  }

  for (unsigned buffer : music->buffers)
    if (music->fill(music, buffer) == 0) Finish(music);
  SYS_MSG(2, "fss][mus", "[_FSS_MusicPlayer] prefilled buffers: %d\n", FSS_MUSIC_BUFFERS);
  alSourceQueueBuffers(source, FSS_MUSIC_BUFFERS, music->buffers);
  alSourcePlay(source);

  while (!StopRequested()) {
    // Refill until nothing is due; rest only when nothing is left to refill.
    for (bool due = true; due;) {
      const ALint processed = SourceInt(source, AL_BUFFERS_PROCESSED);
      due = processed > 0;
      for (ALint i = 0; i < processed; ++i) {
        ALuint buffer = 0;
        alSourceUnqueueBuffers(source, 1, &buffer);
        if (music->fill(music, buffer) == 0) Finish(music);
        alSourceQueueBuffers(source, 1, &buffer);
        if (SourceInt(source, AL_SOURCE_STATE) == AL_STOPPED) {
          Revive(music);
          break;
        }
      }
    }
    SYS_Sleep(1);
  }
  Finish(music);
}

extern "C" FSS_Music_t *FSS_NewMusic(int kind, const char *name, int memory) {
  auto music = brisk::OwnMem(static_cast<FSS_Music_t *>(SYS_MemGet(sizeof(FSS_Music_t), "new handle")));
  errClear();
  if (!music) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  if (memory) {
    SYS_MSG(2, "fss][mus", " ! Sorry, loading from memory not implemented.\n");
    return brisk::Fail(FSS_ERR_NOT_IMPLEMENTED, nullptr);
  }
  if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
  music->state = FSS_STOPPED;
  music->kind = kind;
  auto copy = brisk::OwnMem(SYS_StrDup(name));
  if (!copy) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  if (kind != 0) return brisk::Fail(SYS_ERR_ARG, nullptr);
  StreamPtr stream(Vorbis_Open(name));
  if (!stream) {
    SYS_MSG(2, "fss][mus", " ! error when tried to loading vorbis file: %s -> %d\n", name, brisk::PendingError());
    return brisk::FailKeep(SYS_ERR_NOTFOUND, nullptr);
  }
  music->fill = _FSS_MusicFill;
  switch (stream->channels) {
    case 1: music->format = AL_FORMAT_MONO16; break;
    case 2: music->format = AL_FORMAT_STEREO16; break;
    default:
      SYS_MSG(2, "fss][mus", "[FSS_NewMusic] too many channels (%d)...\n", stream->channels);
      return brisk::Fail(SYS_ERR_ARG, nullptr);
  }
  music->seekPos = kNoRequest;
  music->seekTime = kNoRequest;
  alGenBuffers(FSS_MUSIC_BUFFERS, music->buffers);
  alGenSources(1, &music->source);
  music->mutex = SYS_MutexCreate();
  if (!music->mutex) {
    alDeleteSources(1, &music->source);
    alDeleteBuffers(FSS_MUSIC_BUFFERS, music->buffers);
    return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  }
  music->name = copy.release();
  music->stream = stream.release();
  return music.release();
}

extern "C" int FSS_FreeMusic(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  SYS_MSG(2, "fss][mus", "[FSS_FreeMusic] freeing: %s\n", music->name);
  if (music->thread) SYS_ThreadKill(music->thread);
  music->thread = nullptr;
  Store(music->state, FSS_STOPPED);
  alSourceStop(music->source);
  UnqueueAll(music->source);
  alDeleteBuffers(FSS_MUSIC_BUFFERS, music->buffers);
  alDeleteSources(1, &music->source);
  Vorbis_Close(music->stream);
  SYS_MutexDestroy(music->mutex);
  SYS_MemFree(music->name);
  SYS_MemFree(music);
  errClear();
  return 0;
}

extern "C" int FSS_PlayMusic(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  SYS_Thread_p ended = nullptr;
  {
    brisk::MutexLock lock(music->mutex);
    if (Load(music->state) == FSS_PLAYING) return 0;
    if (music->thread && !music->ended) {
      // Paused with its player still running: resume, never a second player.
      Store(music->state, FSS_PLAYING);
      if (SourceInt(music->source, AL_SOURCE_STATE) == AL_PAUSED) alSourcePlay(music->source);
      return 0;
    }
    ended = music->thread;
    music->thread = nullptr;
  }
  // A player that ended by itself is released before the new one starts.
  if (ended) SYS_ThreadKill(ended);
  errClear();
  brisk::MutexLock lock(music->mutex);
  music->ended = 0;
  Store(music->state, FSS_PLAYING);
  music->thread = SYS_ThreadCreate(_FSS_MusicPlayer, music, kPlayerPriority, kPlayerName);
  if (!music->thread) {
    Store(music->state, FSS_STOPPED);
    return -1;
  }
  return 0;
}

extern "C" int FSS_StopMusic(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  // Without a player the thread layer refuses the null thread (error 10 stays set).
  SYS_ThreadKill(music->thread);
  music->thread = nullptr;
  music->ended = 0;
  Store(music->state, FSS_STOPPED);
  return 0;
}

extern "C" int FSS_PauseMusic(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  brisk::MutexLock lock(music->mutex);
  Store(music->state, FSS_PAUSED);
  if (SourceInt(music->source, AL_SOURCE_STATE) == AL_PLAYING)
    alSourcePause(music->source);
  else
    alSourcePlay(music->source);
  return 0;
}

extern "C" int FSS_SetMusicPos(FSS_Music_t *music, int bytes) {
  errClear();
  if (Reject(music)) return -1;
  if (bytes < 0) return brisk::Fail(SYS_ERR_ARG, -1);
  Store(music->seekPos, bytes);
  return 0;
}

extern "C" int FSS_SetMusicTime(FSS_Music_t *music, int ms) {
  errClear();
  if (Reject(music)) return -1;
  if (ms < 0) return brisk::Fail(SYS_ERR_ARG, -1);
  Store(music->seekTime, ms);
  return 0;
}

extern "C" int64_t FSS_GetMusicPos(FSS_Music_t *music) {
  errClear();
  if (!music || music->kind != 0) return brisk::Fail(SYS_ERR_ARG, -1);
  brisk::MutexLock lock(music->mutex);
  return Vorbis_Tell(music->stream);
}

extern "C" int FSS_GetMusicTime(FSS_Music_t *music) {
  errClear();
  if (!music || music->kind != 0) return brisk::Fail(SYS_ERR_ARG, -1);
  brisk::MutexLock lock(music->mutex);
  const double ms = Vorbis_TellTime(music->stream) * 1000.0;
  if (!(ms >= 0.0)) return -1;
  // A forged stream length can claim more milliseconds than an int holds.
  return ms < static_cast<double>(INT_MAX) ? static_cast<int>(ms) : INT_MAX;
}

extern "C" int FSS_GetMusicState(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  return Load(music->state);
}

extern "C" int FSS_SetMusicLoop(FSS_Music_t *music, int loop) {
  errClear();
  if (Reject(music)) return -1;
  Store(music->loop, loop);
  return 0;
}

extern "C" int FSS_GetMusicLoop(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1;
  return Load(music->loop);
}

extern "C" int FSS_SetMusicVolume(FSS_Music_t *music, float gain) {
  errClear();
  if (Reject(music)) return -1;
  if (!(gain >= 0.0f && gain <= 1.0f)) return brisk::Fail(SYS_ERR_ARG, -1);
  alSourcef(music->source, AL_GAIN, gain);
  return 0;
}

extern "C" float FSS_GetMusicVolume(FSS_Music_t *music) {
  errClear();
  if (Reject(music)) return -1.0f;
  ALfloat gain = 0.0f;
  alGetSourcef(music->source, AL_GAIN, &gain);
  return gain;
}
