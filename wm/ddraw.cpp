// The graphics adapter queries: the adapter's name and its video memory, read
// from the kernel's DRM devices under /sys/class/drm.
//
// The queries hold two handles: the DRM class directory (the adapter names;
// its absence is no error) and the kernel's device class directory (the
// video memory; without it the queries are unavailable). An adapter is a "cardN" entry whose device has a driver;
// its name is that driver's name. Video memory is what the kernel reports in
// mem_info_vram_total / mem_info_vram_used, where it does.
#include <dirent.h>  // Required for: fdopendir, readdir
#include <fcntl.h>   // Required for: openat
#include <unistd.h>  // Required for: readlinkat, read, close, dup

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <SDL.h>

#include "base/log.h"
#include "base/mem.h"
#include "wm/internal.h"

namespace {

constexpr const char *kAdapterDir = "/sys/class/drm";
constexpr const char *kClassDir = "/sys/class";

int g_d3d_lib = -1;  // the DRM class directory
int g_dd_lib = -1;   // the device class directory

struct Adapter {
  std::string card;    // "card0"
  std::string driver;  // the adapter's name
  std::string module;  // the kernel module behind the driver
};

// Last component of the link target at dir/path, or "" when there is none.
std::string LinkName(int dir, const std::string &path) {
  char target[4096];
  ssize_t n = readlinkat(dir, path.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  std::string text(target, static_cast<size_t>(n));
  size_t slash = text.rfind('/');
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

// The adapters of a DRM class directory, in card-number order.
std::vector<Adapter> ListAdapters(int drm) {
  std::vector<Adapter> adapters;
  if (drm < 0) return adapters;
  int fd = dup(drm);
  DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return adapters;
  }
  std::vector<std::pair<long, std::string>> cards;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 5 || name.compare(0, 4, "card") != 0) continue;
    if (name.find_first_not_of("0123456789", 4) != std::string::npos) continue;  // connectors
    cards.emplace_back(std::strtol(name.c_str() + 4, nullptr, 10), name);
  }
  closedir(dir);
  std::sort(cards.begin(), cards.end());
  for (const auto &[number, card] : cards) {
    std::string driver = LinkName(drm, card + "/device/driver");
    if (driver.empty()) continue;
    std::string module = LinkName(drm, card + "/device/driver/module");
    adapters.push_back({card, driver, module.empty() ? driver : module});
  }
  return adapters;
}

// A decimal number from a small sysfs file; false when it cannot be read.
bool ReadNumber(int dir, const char *name, unsigned long long *value) {
  int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[64];
  ssize_t n = read(fd, text, sizeof text - 1);
  int saved = errno;
  close(fd);
  errno = saved;
  if (n <= 0) return false;
  text[n] = '\0';
  char *end = nullptr;
  errno = 0;
  *value = std::strtoull(text, &end, 10);
  if (end == text || errno != 0) {
    errno = EINVAL;
    return false;
  }
  return true;
}

int OpenDir(const char *path) { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

void CloseHandle(int *handle) {
  if (*handle >= 0) close(*handle);
  *handle = -1;
}

}  // namespace

extern "C" int ddInit(void) {
  CloseHandle(&g_d3d_lib);
  CloseHandle(&g_dd_lib);
  SYS_MSG(2, "wm][ddraw", "lib: %s ...\n", kAdapterDir);
  g_d3d_lib = OpenDir(kAdapterDir);
  if (g_d3d_lib >= 0)
    SYS_MSG(2, "wm][ddraw", "...loaded.\n");
  else
    SYS_MSG(2, "wm][ddraw", "...failed.\n");
  SYS_MSG(2, "wm][ddraw", "lib: %s ...\n", kClassDir);
  g_dd_lib = OpenDir(kClassDir);
  if (g_dd_lib < 0) {
    SYS_MSG(2, "wm][ddraw", "...failed\n");
    return 1;
  }
  SYS_MSG(2, "wm][ddraw", "...loaded.\n");
  SYS_MSG(2, "wm][ddraw", "%s: %d\n", "ddLib", g_dd_lib);
  return 0;
}

extern "C" int ddDone(void) {
  errClear();
  SYS_MSG(2, "wm][ddraw", "%s: %d\n", "d3dLib", g_d3d_lib);
  SYS_MSG(2, "wm][ddraw", "%s: %d\n", "ddLib", g_dd_lib);
  CloseHandle(&g_d3d_lib);
  CloseHandle(&g_dd_lib);
  return 0;
}

extern "C" int ddCheckVideoMemory(void) {
  // The first adapter of the device classes stands for the hardware driver.
  int device = -1, error = EBADF;
  int drm = g_dd_lib >= 0 ? openat(g_dd_lib, "drm", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (g_dd_lib >= 0) error = errno;
  if (drm >= 0) {
    std::vector<Adapter> adapters = ListAdapters(drm);
    error = ENODEV;
    if (!adapters.empty()) {
      device = openat(drm, (adapters[0].card + "/device").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      error = errno;
    }
    close(drm);
  }
  if (device < 0) {
    SYS_MSG(2, "wm][ddraw", "Could not create Direct Draw Instance (%d)\n", error);
    return 0;
  }
  unsigned long long total = 0, used = 0;
  if (!ReadNumber(device, "mem_info_vram_total", &total)) {
    SYS_MSG(2, "wm][ddraw", "Could not get caps (%d)\n", errno);
    close(device);
    return 0;
  }
  if (!ReadNumber(device, "mem_info_vram_used", &used) || used > total) used = 0;
  close(device);
  int total_mb = static_cast<int>(std::min<unsigned long long>(total >> 20, 0x7FFFFFFF));
  int free_mb = static_cast<int>(std::min<unsigned long long>((total - used) >> 20, 0x7FFFFFFF));
  SYS_MSG(2, "wm][ddraw", "Total video memory: %d MB\n", total_mb);
  SYS_MSG(2, "wm][ddraw", "Free video memory: %d MB\n", free_mb);
  return total_mb;
}

extern "C" char *ddGetDriverName(void) {
  std::vector<Adapter> adapters = ListAdapters(g_d3d_lib);
  if (g_d3d_lib < 0) return SYS_StrDup("Unknown");
  SYS_MSG(2, "wm][ddraw", "Direct3D adapters: %d\n", static_cast<int>(adapters.size()));
  for (size_t i = 0; i < adapters.size(); ++i)
    SYS_MSG(2, "wm][ddraw", " - %d: %s (%s)\n", static_cast<int>(i), adapters[i].driver.c_str(),
            adapters[i].module.c_str());
  return SYS_StrDup(adapters.empty() ? "Unknown" : adapters[0].driver.c_str());
}
