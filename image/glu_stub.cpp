// The framework's GLU function table, filled by name from the system's GLU
// library through the dynamic-module layer.
#include "image/glu_stub.h"

#include <cstddef>
#include <cstring>

#include "base/dl.h"
#include "base/log.h"

glu_table_t gluFn;
void *glu_library = nullptr;

namespace {

constexpr const char *kGLULibrary = "libGLU.so.1";

struct Slot {
  const char *name;
  size_t offset;
};
constexpr Slot kSlots[] = {
#define GLU_STUB_SLOT(ret, name, params) {#name, offsetof(glu_table_t, name)},
#include "image/glu_stub_slots.inc"
#undef GLU_STUB_SLOT
};
static_assert(sizeof(kSlots) / sizeof(kSlots[0]) * sizeof(void (*)()) == sizeof(glu_table_t),
              "every slot of the GLU table has a name");

}  // namespace

extern "C" int glu_stub(void) {
  errClear();
  SYS_DbgPrintf(1, "[glu_stub]  ! load GLU module.\n");
  void *library = SYS_DlOpen(kGLULibrary);
  if (!library) return -1;
  glu_library = library;
  auto *table = reinterpret_cast<unsigned char *>(&gluFn);
  for (const Slot &slot : kSlots) {
    void *entry = SYS_DlGetProc(library, slot.name);
    std::memcpy(table + slot.offset, &entry, sizeof entry);
  }
  return 0;
}
