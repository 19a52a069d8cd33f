// The framework's GL function table, filled by name from the system's OpenGL
// library through the dynamic-module layer.
#include "image/gl_stub.h"

#include <cstddef>
#include <cstring>

#include "base/dl.h"
#include "base/log.h"

gl_table_t glFn;
void *gl_library = nullptr;

namespace {

constexpr const char *kGLLibrary = "libGL.so.1";

// Every slot's entry-point name and place in the table, in table order.
struct Slot {
  const char *name;
  size_t offset;
};
constexpr Slot kSlots[] = {
#define GL_STUB_CORE(ret, name, params) {#name, offsetof(gl_table_t, name)},
#define GL_STUB_EXT(ret, name, params) {#name, offsetof(gl_table_t, name)},
#include "image/gl_stub_slots.inc"
#undef GL_STUB_CORE
#undef GL_STUB_EXT
};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) * sizeof(void (*)()) == sizeof(gl_table_t),
              "every slot of the GL table has a name");

}  // namespace

extern "C" int gl_stub(void) {
  errClear();
  SYS_DbgPrintf(1, "[gl_stub]  ! load GL module.\n");
  void *library = SYS_DlOpen(kGLLibrary);
  if (!library) return -1;
  gl_library = library;
  auto *table = reinterpret_cast<unsigned char *>(&glFn);
  for (const Slot &slot : kSlots) {
    // A missing name leaves the slot null; callers test before calling.
    void *entry = SYS_DlGetProc(library, slot.name);
    std::memcpy(table + slot.offset, &entry, sizeof entry);
  }
  return 0;
}
