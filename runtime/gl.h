// Runtime glue: the OpenGL and GLU entry points of the show and the runtime,
// and the GL capability check.
//
// The runtime does not link against OpenGL: its entry points are variables in
// namespace rgl, filled by name from "libGL.so.1" and "libGLU.so.1" through
// the framework's module layer when the registered start procedures of the
// "GL unit ..." and "GLU unit ..." slots run (SYS_InitSubsystems). Only the
// entry points the program calls are loaded; every other name is available
// on demand through GetGLProc. Call them as rgl::glClear(...): the plain
// names of <GL/gl.h> are declared but never linked.
//
// InitGLExtensions runs once the show's GL context is current: it logs the
// extensions and the renderer, fixes glMaxTextureSize, reports the DXTC
// modes into glCaps and loads the extension entry points.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <cstdint>

// OpenGL 1.1 entry points the program calls.
#define RGL_GL_ENTRIES(X)                                                                                   \
  X(glBegin) X(glBindTexture) X(glBlendFunc) X(glClear) X(glClearColor) X(glColor3f) X(glColor4f)           \
  X(glCopyTexImage2D) X(glDeleteTextures) X(glDisable) X(glEnable) X(glEnd) X(glGenTextures) X(glGetError) \
  X(glGetIntegerv) X(glGetString) X(glLoadIdentity) X(glMatrixMode) X(glPixelStorei) X(glRotatef)         \
  X(glTexCoord2f) X(glTexImage2D) X(glTexParameteri) X(glTranslatef) X(glVertex2f) X(glViewport)

// GLU entry points the program calls.
#define RGL_GLU_ENTRIES(X) X(gluBuild2DMipmaps) X(gluErrorString) X(gluOrtho2D)

namespace rgl {

#define RGL_DECLARE(name) extern decltype(&::name) name;
RGL_GL_ENTRIES(RGL_DECLARE)
RGL_GLU_ENTRIES(RGL_DECLARE)
#undef RGL_DECLARE

// Looks up any GL entry point for the current context (glXGetProcAddressARB
// of libGL.so.1; it stands in for wglGetProcAddress).
using GetProcAddress_t = void (*(*)(const GLubyte *))(void);
extern GetProcAddress_t wglGetProcAddress;

// Extension entry points; null when not found. Test before each call.
// wglSwapIntervalEXT sets the swap interval of the current context and
// counts as found when the context supports swap control.
using SwapInterval_t = int (*)(int interval);
extern SwapInterval_t wglSwapIntervalEXT;
extern PFNGLCOMPRESSEDTEXIMAGE2DARBPROC glCompressedTexImage2DARB;

}  // namespace rgl

// Capability flags (0 or 1), all 0 until InitGLExtensions has run.
struct GLCaps {
  std::uint8_t compiledVertexArray;  // GL_EXT_compiled_vertex_array
  std::uint8_t cubeMap;              // GL_EXT_texture_cube_map
  std::uint8_t multitexture;         // GL_ARB_multitexture
  std::uint8_t combine;              // GL_ARB_texture_env_combine
  std::uint8_t dot3;                 // GL_ARB_texture_env_dot3
  std::uint8_t textureCompression;   // GL_ARB_texture_compression, then GL_EXT_texture_compression_s3tc
  std::uint8_t anisotropic;          // GL_EXT_texture_filter_anisotropic
  std::uint8_t multisample;          // GL_ARB_multisample
  std::uint8_t shaders;              // GL_ARB_shading_language_100, then GL_ARB_fragment_shader
  std::uint8_t vertexShaders;        // GL_ARB_vertex_shader
  // Compressed formats the driver accepts (the texture cache keeps DDS/DDZ
  // blocks compressed only for these).
  std::uint8_t dxt1;  // GL_COMPRESSED_RGB_S3TC_DXT1_EXT
  std::uint8_t dxt3;  // GL_COMPRESSED_RGBA_S3TC_DXT3_EXT
  std::uint8_t dxt5;  // GL_COMPRESSED_RGBA_S3TC_DXT5_EXT
};

extern "C" {

extern GLCaps glCaps;
// Largest texture edge in pixels the texture cache may upload.
extern std::int32_t glMaxTextureSize;

// Start procedure of the "GL unit ..." slot: opens "libGL.so.1" and loads the
// entry points; a missing library is fatal ("OpenGL lib not found.").
void LoadOpenGL(void);
// Stop procedure: closes the library if it was opened.
void UnloadOpenGL(void);
// Start procedure of the "GLU unit ..." slot: opens "libGLU.so.1"; a missing
// library is fatal ("Sorry, OpenGL Utils lib not loaded. Please check your configuraion.").
void LoadGLU(void);
void UnloadGLU(void);

// The capability check, with the show's context current. Returns 0.
std::int32_t InitGLExtensions(void);
// Logs "[gl] - <name> : available" or "... : not available" and sets *flag
// to 1 when name occurs anywhere in extensions (plain substring search), else
// to 0. A null extension string holds nothing.
void CheckGLExtension(const char *extensions, const char *name, std::uint8_t *flag);
// The entry point of name for the current context, or null.
void *GetGLProc(const char *name);

}  // extern "C"
