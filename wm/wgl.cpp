// The OpenGL context layer: loads the system's OpenGL library, gives each
// shown window its pixel format and a current GL context, and stands in for
// wglGetProcAddress.
//
// The contexts themselves are SDL's (a compatibility-profile context on the
// window's drawable); the library's own context entry points are looked up
// under their GLX names to check that the library is usable, and never called.
#include <GL/gl.h>  // Required for: GLenum, GLubyte, GLint

#include <cstring>

#include <SDL.h>

#include "base/dl.h"
#include "base/log.h"
#include "image/gl_stub.h"
#include "wm/internal.h"

namespace {

constexpr const char *kGLLibrary = "libGL.so.1";

using GetString_t = const GLubyte *(*)(GLenum);
using GetIntegerv_t = void (*)(GLenum, GLint *);
using GetProcAddress_t = void *(*)(const GLubyte *);

void *g_create_context = nullptr;
void *g_make_current = nullptr;
void *g_delete_context = nullptr;
GetString_t g_get_string = nullptr;
GetIntegerv_t g_get_integerv = nullptr;

// Colour depth of the desktop as the pixel format asks for it.
int DesktopDepth() {
  SDL_DisplayMode mode{};
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 0;
  return brisk::wm::BitsPerPixel(mode.format);
}

void FillDescriptor(wm_pixelformat_t &pfd, int depth) {
  pfd = wm_pixelformat_t{};
  pfd.size = sizeof(wm_pixelformat_t);
  pfd.version = 1;
  pfd.flags = WM_PFD_DRAW_TO_WINDOW | WM_PFD_SUPPORT_OPENGL | WM_PFD_DOUBLEBUFFER;
  pfd.pixelType = 0;  // RGBA
  pfd.colorBits = static_cast<uint8_t>(depth > 16 ? 24 : depth);
  pfd.alphaBits = depth > 16 ? 8 : 0;
  pfd.depthBits = 24;
}
static_assert(sizeof(wm_pixelformat_t) == 40, "the pixel format descriptor is 40 bytes");

// wglSwapIntervalEXT and wglGetSwapIntervalEXT on SDL's swap control.
int SwapIntervalEntry(int interval) { return SDL_GL_SetSwapInterval(interval) == 0 ? 1 : 0; }
int GetSwapIntervalEntry(void) { return SDL_GL_GetSwapInterval(); }

// True when the current context lets the swap interval be set.
bool HasSwapControl() {
  if (!SDL_GL_GetCurrentContext()) return false;
  return SDL_GL_SetSwapInterval(SDL_GL_GetSwapInterval()) == 0;
}

// WGL names and the GLX entry points that stand in for them.
struct WglName {
  const char *wgl;
  const char *glx;  // null: no counterpart
};
constexpr WglName kWglNames[] = {
    {"wglCreateContext", "glXCreateContext"},
    {"wglCreateLayerContext", "glXCreateContext"},
    {"wglDeleteContext", "glXDestroyContext"},
    {"wglMakeCurrent", "glXMakeCurrent"},
    {"wglCopyContext", "glXCopyContext"},
    {"wglGetCurrentContext", "glXGetCurrentContext"},
    {"wglGetCurrentDC", "glXGetCurrentDrawable"},
    {"wglGetProcAddress", "glXGetProcAddressARB"},
    {"wglSwapLayerBuffers", "glXSwapBuffers"},
    {"wglUseFontBitmaps", "glXUseXFont"},
    {"wglUseFontBitmapsA", "glXUseXFont"},
    {"wglUseFontBitmapsW", "glXUseXFont"},
    {"wglShareLists", nullptr},
    {"wglDescribeLayerPlane", nullptr},
    {"wglGetLayerPaletteEntries", nullptr},
    {"wglRealizeLayerPalette", nullptr},
    {"wglSetLayerPaletteEntries", nullptr},
    {"wglSwapMultipleBuffers", nullptr},
    {"wglUseFontOutlines", nullptr},
    {"wglUseFontOutlinesA", nullptr},
    {"wglUseFontOutlinesW", nullptr},
};

}  // namespace

// --- shared with the other sources -----------------------------------------

void brisk::wm::PreparePixelFormat(wm_window_t *window) { FillDescriptor(window->pixelFormat, DesktopDepth()); }

bool brisk::wm::ApplyPixelFormatStep(const wm_pixelformat_t &format, int step) {
  if (step > 2) return false;
  int red = 8, green = 8, blue = 8;
  switch (format.colorBits) {
    case 24: break;
    case 16: red = 5, green = 6, blue = 5; break;
    case 15: red = green = blue = 5; break;
    default:
      if (format.colorBits <= 8) red = 3, green = 3, blue = 2;
      break;
  }
  int alpha = step == 0 ? format.alphaBits : 0;
  int depth = step < 2 ? format.depthBits : 16;
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, red);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, green);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, blue);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, format.stencilBits);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, (format.flags & WM_PFD_DOUBLEBUFFER) ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  return true;
}

const unsigned char *brisk::wm::GLString(unsigned name) { return g_get_string ? g_get_string(name) : nullptr; }

void brisk::wm::GLInteger(unsigned name, int *value) {
  if (g_get_integerv) g_get_integerv(name, value);
}

// --- public API ---------------------------------------------------------------

extern "C" int wglInit(void) {
  SYS_MSG(2, "wm][gl", "loading %s ...\n", kGLLibrary);
  void *library = SYS_DlOpen(kGLLibrary);
  if (!library) {
    SYS_MSG(2, "wm][gl", "... failed.\n");
    return 1;
  }
  gl_library = library;
  SYS_MSG(2, "wm][gl", "... loaded.\n");
  g_create_context = SYS_DlGetProc(library, "glXCreateContext");
  g_make_current = SYS_DlGetProc(library, "glXMakeCurrent");
  g_delete_context = SYS_DlGetProc(library, "glXDestroyContext");
  g_get_string = reinterpret_cast<GetString_t>(SYS_DlGetProc(library, "glGetString"));
  g_get_integerv = reinterpret_cast<GetIntegerv_t>(SYS_DlGetProc(library, "glGetIntegerv"));
  if (!g_create_context || !g_make_current || !g_delete_context) return 1;
  return 0;
}

extern "C" int wglContextCreate(wm_window_t *window) {
  if (!window) return 1;
  window->hdc = window->hwnd;  // the native window is the drawable
  FillDescriptor(window->pixelFormat, DesktopDepth());
  // The visual was chosen when the native window was created from this descriptor.
  SDL_Window *native = static_cast<SDL_Window *>(window->hdc);
  if (!native || !(SDL_GetWindowFlags(native) & SDL_WINDOW_OPENGL)) window->pixelFormatIndex = 0;
  if (window->pixelFormatIndex == 0) {
    SYS_MSG(2, "wm][gl", "error in choose pixel format.\n");
    return 1;
  }
  window->pixelFormatSet = 1;
  SDL_GLContext context = SDL_GL_CreateContext(native);
  window->hglrc = context;
  if (!context) {
    SYS_MSG(2, "wm][gl", "error in GL context creating.\n");
    return 1;
  }
  if (SDL_GL_MakeCurrent(native, context) != 0) {
    SYS_MSG(2, "wm][gl", "error in context switching.\n");
    return 1;
  }
  return 0;
}

extern "C" int wglContextDestroy(wm_window_t *window) {
  if (!window || !window->hdc) return 0;
  if (window->hglrc) {
    SDL_GL_MakeCurrent(static_cast<SDL_Window *>(window->hdc), nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(window->hglrc));
  }
  return 0;
}

extern "C" int wglDone(void) {
  if (gl_library) SYS_DlClose(gl_library);
  gl_library = nullptr;
  g_create_context = g_make_current = g_delete_context = nullptr;
  g_get_string = nullptr;
  g_get_integerv = nullptr;
  return 0;
}

extern "C" void *wmGetProcAddress(const char *name) {
  if (!name || !gl_library) return nullptr;
  if (std::strcmp(name, "wglSwapIntervalEXT") == 0)
    return HasSwapControl() ? reinterpret_cast<void *>(&SwapIntervalEntry) : nullptr;
  if (std::strcmp(name, "wglGetSwapIntervalEXT") == 0)
    return HasSwapControl() ? reinterpret_cast<void *>(&GetSwapIntervalEntry) : nullptr;
  for (const WglName &entry : kWglNames)
    if (std::strcmp(name, entry.wgl) == 0) return entry.glx ? SYS_DlGetProc(gl_library, entry.glx) : nullptr;
  auto get_proc = reinterpret_cast<GetProcAddress_t>(SYS_DlGetProc(gl_library, "glXGetProcAddressARB"));
  return get_proc ? get_proc(reinterpret_cast<const GLubyte *>(name)) : nullptr;
}
