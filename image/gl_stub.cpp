// The framework's GL and GLU function tables, filled by name from the
// system's libraries through the dynamic-module layer: one loader, one slot
// list per table.
#include "image/gl_stub.h"

#include <cstddef>
#include <cstring>
#include <span>

#include "base/dl.h"
#include "base/log.h"
#include "image/glu_stub.h"

gl_table_t glFn;
void *gl_library = nullptr;
glu_table_t gluFn;
void *glu_library = nullptr;

namespace {

// A slot's entry-point name and place in its table, in table order.
struct Slot {
  const char *name;
  size_t offset;
};

constexpr Slot kGLSlots[] = {
#define GL_STUB_CORE(ret, name, params) {#name, offsetof(gl_table_t, name)},
#define GL_STUB_EXT(ret, name, params) {#name, offsetof(gl_table_t, name)},
#include "image/gl_stub_slots.inc"
#undef GL_STUB_CORE
#undef GL_STUB_EXT
};

constexpr Slot kGLUSlots[] = {
#define GLU_STUB_SLOT(ret, name, params) {#name, offsetof(glu_table_t, name)},
#include "image/glu_stub_slots.inc"
#undef GLU_STUB_SLOT
};

template <class Table, size_t N>
constexpr bool NamesEverySlot(const Slot (&)[N]) {
  return N * sizeof(void (*)()) == sizeof(Table);
}
static_assert(NamesEverySlot<gl_table_t>(kGLSlots), "every slot of the GL table has a name");
static_assert(NamesEverySlot<glu_table_t>(kGLUSlots), "every slot of the GLU table has a name");

// Loads the library and looks every slot's name up in it, in table order.
// 0, or -1 when the library cannot be loaded (table and handle left as they are).
int LoadTable(const char *banner, const char *library, void *&handle, void *table, std::span<const Slot> slots) {
  errClear();
  SYS_DbgPrintf(1, "%s", banner);
  void *loaded = SYS_DlOpen(library);
  if (!loaded) return -1;
  handle = loaded;
  auto *bytes = static_cast<unsigned char *>(table);
  for (const Slot &slot : slots) {
    // A missing name leaves the slot null; callers test before calling.
    void *entry = SYS_DlGetProc(loaded, slot.name);
    std::memcpy(bytes + slot.offset, &entry, sizeof entry);
  }
  return 0;
}

}  // namespace

extern "C" int gl_stub(void) {
  return LoadTable("[gl_stub]  ! load GL module.\n", "libGL.so.1", gl_library, &glFn, kGLSlots);
}

extern "C" int glu_stub(void) {
  return LoadTable("[glu_stub]  ! load GLU module.\n", "libGLU.so.1", glu_library, &gluFn, kGLUSlots);
}
