// Sound system start-up: the process's one OpenAL device and context, and the
// decoder's file callbacks over the framework's file layer.
#include "sound/fss.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <array>
#include <cerrno>
#include <climits>

#include "base/errors.h"
#include "base/file.h"
#include "base/log.h"

namespace {

ALCdevice *fssDevice = nullptr;
ALCcontext *fssContext = nullptr;

// Output rate by the low byte of the mode; there is no selector 0.
constexpr std::array<int, 7> kRates = {0, 11025, 22050, 44100, 48000, 88200, 96000};

// The device the system asks for first; OpenAL implementations that do not
// know it get their default device instead.
constexpr const char *kPreferredDevice = "DirectSound3D";

// OpenAL answers null for strings it has none for (no device, no context).
const char *Text(const char *s) { return s ? s : "(none)"; }

}  // namespace

extern "C" int FSS_Init(int mode) {
  errClear();
  SYS_MSG(2, "fss", "initialize...\n");
  const unsigned selector = static_cast<unsigned>(mode) & 0xFFu;
  const unsigned layout = (static_cast<unsigned>(mode) >> 8) & 0xFFu;
  if (selector < 1 || selector >= kRates.size() || (layout != 1 && layout != 2)) return brisk::Fail(SYS_ERR_ARG, -1);
  const ALCint attributes[] = {
      ALC_FREQUENCY,      kRates[selector],
      ALC_MONO_SOURCES,   layout == 1 ? 1 : 0,
      ALC_STEREO_SOURCES, layout == 2 ? 1 : 0,
      ALC_SYNC,           0,
      0};

  fssDevice = alcOpenDevice(kPreferredDevice);
  if (!fssDevice) fssDevice = alcOpenDevice(nullptr);
  fssContext = fssDevice ? alcCreateContext(fssDevice, attributes) : nullptr;
  alcMakeContextCurrent(fssContext);

  ALCint major = 0, minor = 0;
  if (fssDevice) {
    alcGetIntegerv(fssDevice, ALC_MAJOR_VERSION, 1, &major);
    alcGetIntegerv(fssDevice, ALC_MINOR_VERSION, 1, &minor);
  }

  SYS_MSG(2, "fss", " - default device: %s\n", Text(alcGetString(nullptr, ALC_DEFAULT_DEVICE_SPECIFIER)));
  // Without a device the library answers with its device list; the line shows the first name.
  const char *specifier = alcGetString(nullptr, ALC_DEVICE_SPECIFIER);
  if (specifier && *specifier) SYS_MSG(2, "fss", " - device specifier: %s\n", specifier);
  SYS_MSG(2, "fss", " - ALC version: %d.%d\n", major, minor);
  SYS_MSG(2, "fss", " - ALC extensions: %s\n", Text(alcGetString(fssDevice, ALC_EXTENSIONS)));
  SYS_MSG(2, "fss", " - AL vendor: %s\n", Text(alGetString(AL_VENDOR)));
  SYS_MSG(2, "fss", " - AL version: %s\n", Text(alGetString(AL_VERSION)));
  SYS_MSG(2, "fss", " - AL renderer: %s\n", Text(alGetString(AL_RENDERER)));
  SYS_MSG(2, "fss", " - AL extensions: %s\n", Text(alGetString(AL_EXTENSIONS)));
  SYS_MSG(2, "fss", " - AL speed of sound: %.2f\n", static_cast<double>(fssContext ? alGetFloat(AL_SPEED_OF_SOUND) : 0.0f));

  // The show goes on without a device; say so plainly, once, here.
  if (!fssDevice)
    SYS_MSG(1, "fss", " ! no sound device could be opened: running without sound\n");
  else if (!fssContext)
    SYS_MSG(1, "fss", " ! the sound device refused a context: running without sound\n");
  return 0;
}

extern "C" int FSS_Done(void) {
  errClear();
  if (fssContext) {
    alcMakeContextCurrent(fssContext);
    alcDestroyContext(fssContext);
  }
  if (fssDevice) alcCloseDevice(fssDevice);
  // Forget the handles so that a second FSS_Done cannot close them again.
  fssContext = nullptr;
  fssDevice = nullptr;
  return 0;
}

// --- decoder file callbacks -------------------------------------------------

extern "C" size_t _Vorbis_FileRead(void *buffer, size_t size, size_t count, void *file) {
  // The decoder tells a clean end from a failure by errno when it gets 0 bytes.
  errno = 0;
  if (!buffer || !file || size == 0 || count == 0) return 0;
  size_t bytes = count > SIZE_MAX / size ? SIZE_MAX : size * count;
  const int length = bytes > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes);
  const int got = SYS_FileRead(static_cast<SYS_File_t *>(file), buffer, length);
  if (got < 0) {
    errno = EIO;
    return 0;
  }
  return static_cast<size_t>(got) / size;
}

extern "C" int _Vorbis_FileSeek(void *file, int64_t offset, int origin) {
  if (!file) return -1;
  auto *f = static_cast<SYS_File_t *>(file);
  // The file layer addresses files with 32-bit positions; anything beyond cannot be reached.
  if (offset < INT_MIN || offset > INT_MAX) return -1;
  int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = static_cast<int64_t>(SYS_FileTell(f)) + offset; break;
    case 2:
      if (f->size < 0) return -1;  // size on disk unknown
      target = static_cast<int64_t>(f->size) + offset;
      break;
    default: target = 0; break;
  }
  if (target < 0 || target > INT_MAX) return -1;
  return SYS_FileSeek(f, static_cast<int>(target)) == 0 ? 0 : -1;
}

extern "C" int _Vorbis_FileClose(void *file) {
  SYS_FileClose(static_cast<SYS_File_t *>(file));
  return 0;
}

extern "C" long _Vorbis_FileTell(void *file) {
  if (!file) return -1;
  return static_cast<long>(SYS_FileTell(static_cast<SYS_File_t *>(file)));
}
