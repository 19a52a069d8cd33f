// The runtime's GL and GLU entry points and the capability check, against the
// real Mesa driver under the X server. Every case brings the whole runtime up
// in a forked child, so that each child creates its own GL screen and reads
// the driver settings of its own environment (MESA_EXTENSION_OVERRIDE and the
// force_gl_renderer option let a case pose as another driver).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/base.h"
#include "runtime/gl.h"
#include "runtime/registry.h"
#include "support.h"
#include "wm/wm.h"

namespace {

using rttest::FindLine;
using rttest::InChild;
using rttest::Lines;
using rttest::ReadFile;

// Brings the runtime up as the show does and gives it a current context.
void StartWithContext() {
  rttest::StartUnits({"./gl_test", "-v"});
  SYS_InitSubsystems();
  wm_window_t *w = wmCreateWindow(0, 0, 64, 64);
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(wmShowWindow(w), 0);
}

const char *const kExtensionRows[] = {
    "GL_EXT_compiled_vertex_array",  "GL_EXT_texture_cube_map",     "GL_ARB_multitexture",
    "GL_ARB_texture_env_combine",    "GL_ARB_texture_env_dot3",     "GL_ARB_texture_compression",
    "GL_EXT_texture_filter_anisotropic", "GL_ARB_multisample",      "GL_EXT_texture_compression_s3tc",
    "GL_ARB_shading_language_100",   "GL_ARB_fragment_shader",      "GL_ARB_vertex_shader"};

TEST(GLEntryPoints, StartProceduresLoadEveryCalledEntryPoint) {
  InChild([] {
    rttest::StartUnits({"./gl_test", "-v"});
    SYS_InitSubsystems();
#define CHECK_LOADED(name) EXPECT_NE(rgl::name, nullptr) << #name;
    RGL_GL_ENTRIES(CHECK_LOADED)
    RGL_GLU_ENTRIES(CHECK_LOADED)
#undef CHECK_LOADED
    EXPECT_NE(rgl::wglGetProcAddress, nullptr);
    // Extension entry points wait for the capability check.
    EXPECT_EQ(rgl::glCompressedTexImage2DARB, nullptr);
    auto lines = Lines(ReadFile("debug.log"));
    long at = 0;
    for (const char *call : {"[init] call : Window manager ...", "[init] call : GL unit ...",
                             "[init] call : GLU unit ...", "[init] call : Texture loader ..."}) {
      at = FindLine(lines, call, at);
      EXPECT_GE(at, 0) << call;
    }
  });
}

TEST(GLCapabilities, TheCheckLogsAndRecordsWhatTheDriverReports) {
  InChild([] {
    StartWithContext();
    ASSERT_EQ(InitGLExtensions(), 0);

    std::string ext = reinterpret_cast<const char *>(rgl::glGetString(GL_EXTENSIONS));
    std::string renderer = reinterpret_cast<const char *>(rgl::glGetString(GL_RENDERER));
    GLint max_size = 0;
    rgl::glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);

    auto lines = Lines(ReadFile("debug.log"));
    long at = FindLine(lines, "[gl] --- check extensions:");
    ASSERT_GE(at, 0);
    for (const char *name : kExtensionRows) {
      bool present = ext.find(name) != std::string::npos;
      EXPECT_EQ(lines.at(++at), std::string("[gl] - ") + name + " : " + (present ? "" : "not ") + "available");
    }
    EXPECT_EQ(lines.at(++at), "[gl] - renderer: " + renderer);
    EXPECT_EQ(lines.at(++at), "[gl] - Maximum texture size : " + std::to_string(max_size));
    EXPECT_EQ(glMaxTextureSize, max_size);

    bool compression = ext.find("GL_EXT_texture_compression_s3tc") != std::string::npos;
    EXPECT_EQ(glCaps.textureCompression, compression ? 1 : 0);
    EXPECT_EQ(glCaps.multitexture, ext.find("GL_ARB_multitexture") != std::string::npos ? 1 : 0);
    if (compression) {
      GLint n = 0;
      rgl::glGetIntegerv(GL_NUM_COMPRESSED_TEXTURE_FORMATS, &n);
      std::vector<GLint> formats(static_cast<std::size_t>(n) + 1);
      rgl::glGetIntegerv(GL_COMPRESSED_TEXTURE_FORMATS, formats.data());
      std::string line = "[gl]   - supported DXTC modes (" + std::to_string(n) + "):";
      int dxt1 = 0, dxt3 = 0, dxt5 = 0;
      for (GLint i = 0; i < n; ++i) {
        if (formats[i] == GL_COMPRESSED_RGB_S3TC_DXT1_EXT) line += " DXT1", dxt1 = 1;
        if (formats[i] == GL_COMPRESSED_RGBA_S3TC_DXT3_EXT) line += " DXT3", dxt3 = 1;
        if (formats[i] == GL_COMPRESSED_RGBA_S3TC_DXT5_EXT) line += " DXT5", dxt5 = 1;
      }
      EXPECT_EQ(lines.at(++at), line);
      EXPECT_EQ(glCaps.dxt1, dxt1);
      EXPECT_EQ(glCaps.dxt3, dxt3);
      EXPECT_EQ(glCaps.dxt5, dxt5);
      EXPECT_NE(rgl::glCompressedTexImage2DARB, nullptr);
    } else {
      EXPECT_EQ(lines.at(++at), "[gl] DXTC : not available.");
    }
    // The swap interval entry is the window manager's stand-in, found when
    // the context has swap control.
    EXPECT_EQ(reinterpret_cast<void *>(rgl::wglSwapIntervalEXT), wmGetProcAddress("wglSwapIntervalEXT"));
    EXPECT_NE(GetGLProc("glReadPixels"), nullptr);
    EXPECT_EQ(GetGLProc(nullptr), nullptr);
  });
}

// Drivers known to report a larger texture size than they handle are capped
// at 1024; the renderer text must occur exactly (case and spacing).
TEST(GLCapabilities, RendererQuirksCapTheTextureSize) {
  struct Case {
    const char *renderer;
    const char *line;  // null: no cap
  };
  const Case cases[] = {
      {"Intel GMA 950 (test)", "[gl]   - Intel GMA950 detected. Maximum texture size overridden to 1024."},
      {"Mobile Intel 965/963 Express", "[gl]   - Intel GMA950 detected. Maximum texture size overridden to 1024."},
      {"Intel GMA X3100", "[gl]   - Intel GMA X3100 detected. Maximum texture size overridden to 1024."},
      {"ATI Radeon 9200 SE", "[gl]   - ATI Radeon 9200 detected. Maximum texture size overridden to 1024."},
      {"intel gma 950", nullptr},
      {"Intel GMA  950", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.renderer);
    InChild([&] {
      setenv("force_gl_renderer", c.renderer, 1);
      StartWithContext();
      InitGLExtensions();
      GLint queried = 0;
      rgl::glGetIntegerv(GL_MAX_TEXTURE_SIZE, &queried);
      auto lines = Lines(ReadFile("debug.log"));
      long at = FindLine(lines, std::string("[gl] - renderer: ") + c.renderer);
      ASSERT_GE(at, 0) << "the driver did not take the renderer name";
      EXPECT_EQ(lines.at(at + 1), "[gl] - Maximum texture size : " + std::to_string(queried));
      if (c.line) {
        EXPECT_EQ(lines.at(at + 2), c.line);
        EXPECT_EQ(glMaxTextureSize, 1024);
      } else {
        EXPECT_EQ(lines.at(at + 2).find("detected"), std::string::npos);
        EXPECT_EQ(glMaxTextureSize, queried);
      }
    });
  }
}

TEST(GLCapabilities, CompressionWithoutS3TCReportsNoDXTC) {
  InChild([] {
    setenv("MESA_EXTENSION_OVERRIDE", "-GL_EXT_texture_compression_s3tc", 1);
    StartWithContext();
    InitGLExtensions();
    auto lines = Lines(ReadFile("debug.log"));
    EXPECT_GE(FindLine(lines, "[gl] - GL_ARB_texture_compression : available"), 0);
    long at = FindLine(lines, "[gl] - GL_EXT_texture_compression_s3tc : not available");
    EXPECT_GE(at, 0);
    EXPECT_GE(FindLine(lines, "[gl] DXTC : not available.", at), 0);
    EXPECT_EQ(glCaps.textureCompression, 0);
    EXPECT_EQ(glCaps.dxt1 + glCaps.dxt3 + glCaps.dxt5, 0);
  });
}

TEST(GLCapabilities, CheckExtensionIsAPlainSubstringSearch) {
  struct Case {
    const char *extensions;
    const char *name;
    int flag;
  };
  const char *list = "GL_ARB_multitexture GL_EXT_texture_compression_s3tc_srgb GL_ARB_vertex_shader";
  const Case cases[] = {
      {list, "GL_ARB_multitexture", 1},
      {list, "GL_ARB_vertex_shader", 1},
      {list, "GL_EXT_texture_compression_s3tc", 1},  // the start of a longer name also counts
      {list, "GL_ARB_fragment_shader", 0},
      {list, "gl_arb_multitexture", 0},
      {"", "GL_ARB_multitexture", 0},
      {nullptr, "GL_ARB_multitexture", 0},
  };
  InChild([&] {
    rttest::StartBase({"./gl_test", "-v"});
    for (const Case &c : cases) {
      std::uint8_t flag = 7;
      CheckGLExtension(c.extensions, c.name, &flag);
      EXPECT_EQ(flag, c.flag) << c.name;
    }
    auto lines = Lines(ReadFile("debug.log"));
    long at = FindLine(lines, "[gl] - GL_ARB_multitexture : available");
    ASSERT_GE(at, 0);
    for (const Case &c : cases) {
      EXPECT_EQ(lines.at(static_cast<std::size_t>(at++)),
                std::string("[gl] - ") + c.name + " : " + (c.flag ? "" : "not ") + "available");
    }
  });
}

}  // namespace
