// Runtime glue: OpenGL and GLU entry points and the GL capability check.
#include "runtime/gl.h"

#include <climits>
#include <initializer_list>
#include <cstring>
#include <string>
#include <string_view>

#include "base/base.h"
#include "base/dl.h"
#include "runtime/registry.h"
#include "wm/wm.h"

namespace rgl {
#define RGL_DEFINE(name) decltype(&::name) name = nullptr;
RGL_GL_ENTRIES(RGL_DEFINE)
RGL_GLU_ENTRIES(RGL_DEFINE)
#undef RGL_DEFINE
GetProcAddress_t wglGetProcAddress = nullptr;
SwapInterval_t wglSwapIntervalEXT = nullptr;
PFNGLCOMPRESSEDTEXIMAGE2DARBPROC glCompressedTexImage2DARB = nullptr;
}  // namespace rgl

extern "C" {
GLCaps glCaps = {};
std::int32_t glMaxTextureSize = 0;
}

namespace {

void *g_gl_lib = nullptr;
void *g_glu_lib = nullptr;

// One log line of the runtime made of pieces (cut like a short string).
void WriteLn(std::initializer_list<std::string_view> pieces) {
  ShortString line;
  for (auto p : pieces) line.append(p);
  SYS_WriteLn(std::string(line.view()).c_str());
}

void Write(std::initializer_list<std::string_view> pieces) {
  ShortString part;
  for (auto p : pieces) part.append(p);
  SYS_Write(std::string(part.view()).c_str());
}

// Loads one entry point the program calls. Those are relied on without a
// test before each call, so a library lacking one cannot be used.
template <typename T>
void LoadCalled(void *lib, T &slot, const char *name) {
  slot = reinterpret_cast<T>(SYS_DlGetProc(lib, name));
  if (!slot) SYS_FatalError((std::string("OpenGL entry point not found: ") + name).c_str());
}

// Driver whose reported maximum texture size cannot be trusted.
struct RendererQuirk {
  const char *text;
  const char *line;
};
constexpr RendererQuirk kQuirks[] = {
    {"Intel GMA 950", "[gl]   - Intel GMA950 detected. Maximum texture size overridden to 1024."},
    {"Intel 965/963", "[gl]   - Intel GMA950 detected. Maximum texture size overridden to 1024."},
    {"Intel GMA X3100", "[gl]   - Intel GMA X3100 detected. Maximum texture size overridden to 1024."},
    {"ATI Radeon 9200", "[gl]   - ATI Radeon 9200 detected. Maximum texture size overridden to 1024."},
};

}  // namespace

extern "C" {

void LoadOpenGL(void) {
  g_gl_lib = SYS_DlOpen("libGL.so.1");
  if (!g_gl_lib) SYS_FatalError("OpenGL lib not found.");
#define RGL_LOAD(name) LoadCalled(g_gl_lib, rgl::name, #name);
  RGL_GL_ENTRIES(RGL_LOAD)
#undef RGL_LOAD
  LoadCalled(g_gl_lib, rgl::wglGetProcAddress, "glXGetProcAddressARB");
}

void UnloadOpenGL(void) {
  if (g_gl_lib) SYS_DlClose(g_gl_lib);
  g_gl_lib = nullptr;
}

void LoadGLU(void) {
  g_glu_lib = SYS_DlOpen("libGLU.so.1");
  // The log's fixed text, spelling included.
  if (!g_glu_lib) SYS_FatalError("Sorry, OpenGL Utils lib not loaded. Please check your configuraion.");
#define RGL_LOAD(name) LoadCalled(g_glu_lib, rgl::name, #name);
  RGL_GLU_ENTRIES(RGL_LOAD)
#undef RGL_LOAD
}

void UnloadGLU(void) {
  if (g_glu_lib) SYS_DlClose(g_glu_lib);
  g_glu_lib = nullptr;
}

void CheckGLExtension(const char *extensions, const char *name, std::uint8_t *flag) {
  if (!name) name = "";
  Write({"[gl] - ", name, " : "});
  // A plain substring search, as intended: a name found inside a longer
  // extension's name counts as present.
  std::uint8_t found = extensions && std::strstr(extensions, name) ? 1 : 0;
  if (flag) *flag = found;
  if (!found) SYS_Write("not ");
  SYS_WriteLn("available");
}

void *GetGLProc(const char *name) {
  if (!name) return nullptr;
  // The WGL extension functions have their stand-ins in the window manager,
  // which owns the context (the swap interval among them).
  if (std::strncmp(name, "wgl", 3) == 0) return wmGetProcAddress(name);
  if (!rgl::wglGetProcAddress) return nullptr;
  return reinterpret_cast<void *>(rgl::wglGetProcAddress(reinterpret_cast<const GLubyte *>(name)));
}

std::int32_t InitGLExtensions(void) {
  auto *ext = reinterpret_cast<const char *>(rgl::glGetString(GL_EXTENSIONS));
  SYS_WriteLn("[gl] --- check extensions:");
  struct Row {
    const char *name;
    std::uint8_t *flag;
  };
  const Row rows[] = {
      {"GL_EXT_compiled_vertex_array", &glCaps.compiledVertexArray},
      {"GL_EXT_texture_cube_map", &glCaps.cubeMap},
      {"GL_ARB_multitexture", &glCaps.multitexture},
      {"GL_ARB_texture_env_combine", &glCaps.combine},
      {"GL_ARB_texture_env_dot3", &glCaps.dot3},
      {"GL_ARB_texture_compression", &glCaps.textureCompression},
      {"GL_EXT_texture_filter_anisotropic", &glCaps.anisotropic},
      {"GL_ARB_multisample", &glCaps.multisample},
      {"GL_EXT_texture_compression_s3tc", &glCaps.textureCompression},
      {"GL_ARB_shading_language_100", &glCaps.shaders},
      {"GL_ARB_fragment_shader", &glCaps.shaders},
      {"GL_ARB_vertex_shader", &glCaps.vertexShaders},
  };
  for (const Row &r : rows) CheckGLExtension(ext, r.name, r.flag);

  auto *renderer = reinterpret_cast<const char *>(rgl::glGetString(GL_RENDERER));
  if (!renderer) renderer = "";
  WriteLn({"[gl] - renderer: ", renderer});

  GLint max_size = 0;
  rgl::glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  glMaxTextureSize = max_size;
  WriteLn({"[gl] - Maximum texture size : ", std::to_string(glMaxTextureSize)});

  // Drivers known to report more than they handle.
  for (const RendererQuirk &q : kQuirks) {
    if (std::strstr(renderer, q.text)) {
      SYS_WriteLn(q.line);
      glMaxTextureSize = 1024;
    }
  }

  if (glCaps.textureCompression) {
    GLint count = 0;
    rgl::glGetIntegerv(GL_NUM_COMPRESSED_TEXTURE_FORMATS, &count);
    if (count < 0 || count > INT_MAX / 16) count = 0;
    Write({"[gl]   - supported DXTC modes (", std::to_string(count), "):"});
    auto *formats = static_cast<GLint *>(SYS_PasGetMem(16 * count, "glInitExt: DDS Support"));
    if (formats) {
      rgl::glGetIntegerv(GL_COMPRESSED_TEXTURE_FORMATS, formats);
      for (GLint i = 0; i < count; ++i) {
        switch (formats[i]) {
          case GL_COMPRESSED_RGB_S3TC_DXT1_EXT:
            SYS_Write(" DXT1");
            glCaps.dxt1 = 1;
            break;
          case GL_COMPRESSED_RGBA_S3TC_DXT3_EXT:
            SYS_Write(" DXT3");
            glCaps.dxt3 = 1;
            break;
          case GL_COMPRESSED_RGBA_S3TC_DXT5_EXT:
            SYS_Write(" DXT5");
            glCaps.dxt5 = 1;
            break;
          default:
            break;
        }
      }
    }
    SYS_WriteLn("");
    SYS_PasFreeMem(reinterpret_cast<void **>(&formats));
  } else {
    SYS_WriteLn("[gl] DXTC : not available.");
  }

  // Extension entry points the program calls.
  rgl::glCompressedTexImage2DARB =
      reinterpret_cast<PFNGLCOMPRESSEDTEXIMAGE2DARBPROC>(GetGLProc("glCompressedTexImage2DARB"));
  rgl::wglSwapIntervalEXT = reinterpret_cast<rgl::SwapInterval_t>(GetGLProc("wglSwapIntervalEXT"));
  return 0;
}

}  // extern "C"
