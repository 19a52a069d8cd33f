// The framework's GL and GLU tables: every slot holds what the system's
// library exports under its name (null where it exports nothing), and a
// module under the framework's module path takes the library's place.
#include <dlfcn.h>

#include <filesystem>

#include "base/base.h"
#include "base/dl.h"
#include "image/gl_stub.h"
#include "image/glu_stub.h"
#include "support.h"

namespace {

using namespace wmtest;

struct Slot {
  const char *name;
  void *value;
};

std::vector<Slot> GLSlots() {
  return {
#define GL_STUB_CORE(ret, name, params) {#name, reinterpret_cast<void *>(glFn.name)},
#define GL_STUB_EXT(ret, name, params) {#name, reinterpret_cast<void *>(glFn.name)},
#include "image/gl_stub_slots.inc"
#undef GL_STUB_CORE
#undef GL_STUB_EXT
  };
}

std::vector<Slot> GLUSlots() {
  return {
#define GLU_STUB_SLOT(ret, name, params) {#name, reinterpret_cast<void *>(gluFn.name)},
#include "image/glu_stub_slots.inc"
#undef GLU_STUB_SLOT
  };
}

// Every slot against the library's own answer for its name.
void ExpectLibraryExports(const std::vector<Slot> &slots, const char *library, size_t *missing) {
  void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  *missing = 0;
  for (const Slot &slot : slots) {
    void *expected = dlsym(handle, slot.name);
    EXPECT_EQ(slot.value, expected) << slot.name;
    *missing += expected == nullptr;
  }
  dlclose(handle);
}

TEST(GlStub, SlotsHoldTheLibraryExports) {
  InChild([] {
    StartBase({"/opt/demo/wmtest", "-v"});
    for (const Slot &slot : GLSlots()) ASSERT_EQ(slot.value, nullptr) << slot.name;
    ASSERT_EQ(gl_stub(), 0);
    EXPECT_NE(gl_library, nullptr);
    EXPECT_NE(glFn.glEnable, nullptr);
    EXPECT_NE(glFn.glTexImage2D, nullptr);
    size_t missing = 0;
    ExpectLibraryExports(GLSlots(), "libGL.so.1", &missing);
    std::printf("GL table: %zu slots, %zu names the library lacks\n", GLSlots().size(), missing);
    EXPECT_TRUE(Contains(LogLines(), "[gl_stub]  ! load GL module."));
    // The library is registered once, under its name.
    EXPECT_EQ(SYS_DlOpen("libGL.so.1"), gl_library);
    SYS_BaseDone();
  });
}

TEST(GluStub, SlotsHoldTheLibraryExports) {
  InChild([] {
    StartBase({"/opt/demo/wmtest", "-v"});
    ASSERT_EQ(glu_stub(), 0);
    EXPECT_NE(glu_library, nullptr);
    EXPECT_NE(gluFn.gluBuild2DMipmaps, nullptr);
    EXPECT_EQ(GLUSlots().size(), 56u);
    size_t missing = 0;
    ExpectLibraryExports(GLUSlots(), "libGLU.so.1", &missing);
    EXPECT_TRUE(Contains(LogLines(), "[glu_stub]  ! load GLU module."));
    SYS_BaseDone();
  });
}

TEST(GlStub, NamesTheLibraryLacksStayNull) {
  InChild([] {
    std::filesystem::create_directories("Modules");
    std::filesystem::copy_file(BRISK_FAKE_GL, "Modules/libGL.so.1-linux.so",
                               std::filesystem::copy_options::overwrite_existing);
    StartBase({"/opt/demo/wmtest", "-v"});
    ASSERT_EQ(gl_stub(), 0);
    void *fake = dlopen("Modules/libGL.so.1-linux.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(fake, nullptr) << "the module path was not taken";
    EXPECT_EQ(reinterpret_cast<void *>(glFn.glEnable), dlsym(fake, "glEnable"));
    EXPECT_EQ(reinterpret_cast<void *>(glFn.glTexImage2D), dlsym(fake, "glTexImage2D"));
    EXPECT_EQ(glFn.glClear, nullptr);
    EXPECT_EQ(glFn.glCompressedTexImage2DARB, nullptr);
    size_t set = 0;
    for (const Slot &slot : GLSlots()) set += slot.value != nullptr;
    EXPECT_EQ(set, 2u);
    dlclose(fake);
    SYS_BaseDone();
  });
}

}  // namespace
