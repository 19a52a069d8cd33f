// Tracked memory: every block carries a header naming its origin and sits in
// one list of live blocks (newest first), for the leak report and the release
// checks.
//
// Two things go beyond a bare header-and-guard scheme:
//  - the list is guarded by a spin lock, because the music thread allocates
//    too; the critical sections are a few pointer writes;
//  - a hash set of live headers lets a release recognise a pointer that is not
//    a live block (released before, or never from here) without reading the
//    memory in front of it, which may not belong to us at all.
#include "base/mem.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "base/internal.h"
#include "base/log.h"
#include "base/msgbox.h"

namespace {

struct Header {
  uint32_t guard;
  int32_t size;
  Header *newer;
  Header *older;
  char info[32];
};
static_assert(sizeof(Header) == 56);

// The header sits right in front of the user data; a lead of 8 bytes keeps the
// user data 16-byte aligned like any malloc result.
constexpr size_t kLead = 8;
constexpr size_t kOverhead = kLead + sizeof(Header);
static_assert(kOverhead % 16 == 0);

Header *HeaderOf(void *user) { return reinterpret_cast<Header *>(static_cast<char *>(user) - sizeof(Header)); }
void *UserOf(Header *h) { return h + 1; }
void *BaseOf(Header *h) { return reinterpret_cast<char *>(h) - kLead; }

class SpinLock {
 public:
  void lock() {
    while (flag_.exchange(true, std::memory_order_acquire))
      while (flag_.load(std::memory_order_relaxed)) __builtin_ia32_pause();
  }
  void unlock() { flag_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> flag_{false};
};

// Open-addressing set of live header addresses (linear probing, backward-shift
// deletion, no tombstones). Its storage comes from the system allocator.
class LiveSet {
 public:
  bool Insert(Header *h) {
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
    size_t i = Slot(h);
    while (slots_[i]) i = (i + 1) & (capacity_ - 1);
    slots_[i] = h;
    ++count_;
    return true;
  }
  bool Contains(const Header *h) const {
    if (!capacity_) return false;
    for (size_t i = Slot(h); slots_[i]; i = (i + 1) & (capacity_ - 1))
      if (slots_[i] == h) return true;
    return false;
  }
  void Erase(const Header *h) {
    if (!capacity_) return;
    size_t i = Slot(h);
    while (slots_[i] && slots_[i] != h) i = (i + 1) & (capacity_ - 1);
    if (!slots_[i]) return;
    // Shift later members of the probe run back into the hole.
    size_t hole = i;
    for (size_t j = (i + 1) & (capacity_ - 1); slots_[j]; j = (j + 1) & (capacity_ - 1)) {
      size_t home = Slot(slots_[j]);
      bool movable = (hole <= j) ? (home <= hole || home > j) : (home <= hole && home > j);
      if (movable) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = nullptr;
    --count_;
  }
  void Clear() {
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
  }

 private:
  size_t Slot(const Header *h) const {
    auto v = reinterpret_cast<uintptr_t>(h) >> 4;
    return static_cast<size_t>((v * 0x9E3779B97F4A7C15ull) >> 20) & (capacity_ - 1);
  }
  bool Grow() {
    size_t capacity = capacity_ ? capacity_ * 2 : 1024;
    auto **slots = static_cast<Header **>(std::calloc(capacity, sizeof(Header *)));
    if (!slots) return false;
    Header **old = slots_;
    size_t old_capacity = capacity_;
    slots_ = slots;
    capacity_ = capacity;
    count_ = 0;
    for (size_t i = 0; i < old_capacity; ++i)
      if (old[i]) Insert(old[i]);
    std::free(old);
    return true;
  }

  Header **slots_ = nullptr;
  size_t capacity_ = 0;
  size_t count_ = 0;
};

SpinLock g_lock;
Header *g_head = nullptr;  // newest live block
LiveSet g_live;

bool g_log_alloc = false;   // -debug-memalloc
bool g_report = false;      // -debug-memleak
bool g_fatal_free = false;  // -debug-dfree
char *g_report_name = nullptr;

// "[file:line] tag" cut to 31 characters, written without printf.
void FormatInfo(char (&info)[32], const char *file, int line, const char *tag) {
  size_t n = 0;
  auto put = [&](char c) {
    if (n < sizeof info - 1) info[n++] = c;
  };
  auto puts = [&](const char *s) {
    for (; s && *s && n < sizeof info - 1; ++s) info[n++] = *s;
  };
  put('[');
  puts(file ? file : "(null)");
  put(':');
  char digits[12];
  int d = 0;
  unsigned v = line < 0 ? 0u - static_cast<unsigned>(line) : static_cast<unsigned>(line);
  do digits[d++] = static_cast<char>('0' + v % 10);
  while ((v /= 10) && d < 11);
  if (line < 0) put('-');
  while (d) put(digits[--d]);
  put(']');
  put(' ');
  puts(tag ? tag : "(null)");
  info[n] = '\0';
}

void Link(Header *h) {
  h->newer = nullptr;
  h->older = g_head;
  if (g_head) g_head->newer = h;
  g_head = h;
}

void Unlink(Header *h) {
  if (h->newer) h->newer->older = h->older;
  else g_head = h->older;
  if (h->older) h->older->newer = h->newer;
  h->newer = h->older = nullptr;
}

// New block (not yet linked). Null when the system refuses.
Header *Obtain(int size, const char *file, int line, const char *tag) {
  if (size <= 0) return nullptr;
  void *base = std::malloc(kOverhead + static_cast<size_t>(size));
  if (!base) return nullptr;
  auto *h = reinterpret_cast<Header *>(static_cast<char *>(base) + kLead);
  h->guard = SYS_MEM_GUARD;
  h->size = size;
  h->newer = h->older = nullptr;
  FormatInfo(h->info, file, line, tag);
  std::memset(UserOf(h), 0, static_cast<size_t>(size));
  return h;
}

bool Publish(Header *h) {
  std::lock_guard<SpinLock> guard(g_lock);
  if (!g_live.Insert(h)) return false;
  Link(h);
  return true;
}

void LogAllocation(Header *h, const char *tag) {
  if (g_log_alloc)
    SYS_DbgMsg(2, "[mem][%s:%d:%s()]  - allocated: 0x%lx '%s'\n", __FILE_NAME__, __LINE__, "_SYS_MemGet",
               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)), tag ? tag : "");
}

void *Allocate(int size, const char *file, int line, const char *tag) {
  Header *h = Obtain(size, file, line, tag);
  if (!h) return nullptr;
  if (!Publish(h)) {
    std::free(BaseOf(h));
    return nullptr;
  }
  LogAllocation(h, tag);
  return UserOf(h);
}

void CorruptionReport(void *header, uint32_t found, const char *file, int line, const char *info) {
  SYS_DbgPrintf(0,
                "\n!!! Already released or corrupted memory area: 0x%lx\n!!!  - data: 0x%08x\n"
                "!!!  - SYS_MemFree position: [%s:%d]\n!!!  - SYS_MemGet info: '%s'\n\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(header)), found, file ? file : "", line,
                info);
  if (g_fatal_free) {
    SYS_SystemMessageBox("error...", "Memory handler already released, or corrupted.", SYS_MSGBOX_ERROR);
    std::exit(1);
  }
}

// Takes a live block out of the list. False (with the report written) when p
// is not a live block of this allocator or its guard was overwritten.
bool Retire(void *p, const char *file, int line, Header **out) {
  Header *h = HeaderOf(p);
  char info[32] = "(not a block of this allocator)";
  uint32_t found = 0;
  {
    std::lock_guard<SpinLock> guard(g_lock);
    if (g_live.Contains(h)) {
      found = h->guard;
      if (found == SYS_MEM_GUARD) {
        h->guard = 0;
        g_live.Erase(h);
        Unlink(h);
        *out = h;
        return true;
      }
      std::memcpy(info, h->info, sizeof info);
      info[sizeof info - 1] = '\0';
    }
  }
  CorruptionReport(h, found, file, line, info);
  return false;
}

}  // namespace

extern "C" void *_SYS_MemGet(int size, const char *file, int line, const char *tag) {
  return Allocate(size, file, line, tag);
}

extern "C" int _SYS_MemFree(void **where, const char *file, int line) {
  if (!where || !*where) return 0;
  Header *h = nullptr;
  if (!Retire(*where, file, line, &h)) return 0;
  std::free(BaseOf(h));
  *where = nullptr;
  return 0;
}

extern "C" void *_SYS_MemRealloc(void **where, int size, const char *file, int line, const char *tag) {
  if (!where) return nullptr;
  if (size <= 0) {
    _SYS_MemFree(where, __FILE_NAME__, __LINE__);
    return nullptr;
  }
  if (!*where) {
    *where = Allocate(size, file, line, tag);
    return *where;
  }
  Header *old = HeaderOf(*where);
  int old_size;
  {
    std::lock_guard<SpinLock> guard(g_lock);
    bool live = g_live.Contains(old) && old->guard == SYS_MEM_GUARD;
    old_size = live ? old->size : -1;
  }
  if (old_size < 0) {
    // Not a live block: report it and leave the caller's pointer alone.
    Header *unused = nullptr;
    Retire(*where, file, line, &unused);
    return nullptr;
  }
  void *fresh = Allocate(size, file, line, tag);
  if (!fresh) return nullptr;
  std::memcpy(fresh, *where, static_cast<size_t>(old_size < size ? old_size : size));
  _SYS_MemFree(where, file, line);
  *where = fresh;
  return fresh;
}

extern "C" char *_SYS_StrDup(const char *text, const char *file, int line) {
  if (!text) return nullptr;
  char tag[83];
  std::snprintf(tag, sizeof tag, "StrDup: %s", text);
  size_t length = std::strlen(text);
  if (length >= INT32_MAX - kOverhead) return nullptr;
  auto *copy = static_cast<char *>(_SYS_MemGet(static_cast<int>(length + 1), file, line, tag));
  if (copy) std::memcpy(copy, text, length + 1);
  return copy;
}

extern "C" int SYS_MemSize(void *p) {
  errClear();
  if (!p) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  std::lock_guard<SpinLock> guard(g_lock);
  Header *h = HeaderOf(p);
  if (!g_live.Contains(h)) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  return h->size;
}

extern "C" int SYS_MemInfo(const char *path) {
  errClear();
  if (!path) path = "debug.memleaks";
  SYS_MSG(2, "mem", "dump allocation list to '%s'.\n", path);
  FILE *f = std::fopen(path, "wt+");
  if (!f) {
    errSetLastError(SYS_ERR_CREATE);
    return -1;
  }
  std::fputs("\n--- brisk!quantoven memory manager\n", f);
  char *stamp = SYS_TimeStamp();
  std::fprintf(f, "--- started : %s\n", stamp ? stamp : "");
  SYS_MemFree(stamp);
  std::fputs("\n", f);
  unsigned total = 0;
  {
    std::lock_guard<SpinLock> guard(g_lock);
    if (!g_head) {
      std::fputs("No memory allocated.\n", f);
    } else {
      std::fputs("Unreleased memory:\n\n", f);
      for (Header *h = g_head; h; h = h->older) {
        std::fprintf(f, "%s -> %d bytes\n", h->info, h->size);
        total += static_cast<unsigned>(h->size);
      }
    }
  }
  std::fprintf(f, "\n\nTotal: %u bytes\n---\n", total);
  std::fclose(f);
  return 0;
}

extern "C" int SYS_MemDump(void *p) {
  errClear();
  if (!p) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  char name[256];
  int size;
  {
    std::lock_guard<SpinLock> guard(g_lock);
    Header *h = HeaderOf(p);
    if (!g_live.Contains(h)) {
      errSetLastError(SYS_ERR_ARG);
      return -1;
    }
    std::snprintf(name, sizeof name, "%s.memdump", h->info);
    size = h->size;
  }
  FILE *f = std::fopen(name, "wb+");
  if (!f) {
    errSetLastError(SYS_ERR_CREATE);
    return -1;
  }
  std::fwrite(p, 1, static_cast<size_t>(size), f);
  std::fclose(f);
  return 0;
}

void brisk::base::MemStartup() {
  g_log_alloc = SYS_CfgGet("debug-memalloc", 0) == 1;
  g_report = SYS_CfgGet("debug-memleak", 0) == 1;
  g_fatal_free = SYS_CfgGet("debug-dfree", 0) == 1;
  intptr_t name = SYS_CfgGet("mf", 1);
  SYS_MemFree(g_report_name);
  if (name != 0 && name != -1) g_report_name = SYS_StrDup(reinterpret_cast<const char *>(name));
  errClear();
}

void brisk::base::MemShutdown() {
  if (g_report) SYS_MemInfo(g_report_name);
  SYS_MemFree(g_report_name);
  errClear();
  std::lock_guard<SpinLock> guard(g_lock);
  while (Header *h = g_head) {
    g_head = h->older;
    h->guard = 0;
    std::free(BaseOf(h));
  }
  g_live.Clear();
  g_log_alloc = g_report = g_fatal_free = false;
}
