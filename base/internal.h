// Private to the base library: the debug switches read at log start-up and
// the start-up/shutdown steps of each module, called in order by SYS_BaseInit
// and SYS_BaseDone.
#pragma once

#include <string>

namespace brisk::base {

// Names may use "\" as the separator (Windows-style names, as the show's data
// use); the file system wants "/".
inline std::string &WithSlashes(std::string &path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

// Module switches, read once by the log start-up (presence of -name).
struct DebugSwitches {
  bool all = false;        // -debug-all: level-0 messages of every module
  bool file = false;       // -debug-file
  bool dl = false;         // -debug-dl
  bool info = false;       // -debug-info
  bool cpu = false;        // -debug-cpu
  bool base = false;       // -debug-base
  bool xml = false;        // -debug-xml
  bool dlsymbols = false;  // -debug-dlsymbols
};
extern DebugSwitches g_debug;

// Level a switch-governed module passes to SYS_DbgMsg.
constexpr int SwitchLevel(bool on) { return on ? 2 : 0; }

// Steps of SYS_BaseInit / SYS_BaseDone owned by the modules.
void LogStartup();   // error state, switches, log file and banners
void LogShutdown();  // "--- End of log." and the log closes
void CfgRelease();   // releases the argument list
void MemStartup();   // reads the memory switches
void MemShutdown();  // leak report, then every remaining block is released
void FileShutdown();  // every pack unmounted, archives closed, error code cleared
void InfoShutdown(); // releases the system texts
void DlShutdown();   // forgets the module list (the modules stay loaded)

}  // namespace brisk::base
