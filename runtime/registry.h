// Runtime glue: the subsystem registry, the fatal-error path, the log and
// memory wrappers of the runtime, and the unit start-up of the program.
//
// Each glue unit registers a named start and a named stop procedure in a
// numbered slot (0..31); the show starts every registered subsystem in slot
// order with SYS_InitSubsystems. On a fatal error the stop procedures run in
// reverse slot order, the base library shuts down and the process ends.
#pragma once

#include <cstdint>

#include "runtime/shortstr.h"

// A start or stop procedure: no arguments, no result.
typedef void (*SYS_TExitProc)(void);
// Name of a registered procedure: at most 32 characters.
typedef ShortStr<32> SYS_TExitProcName;

// One slot of the start or the stop table.
typedef struct SYS_TExitProcEntry {
  std::int32_t used;  // 1 registered, 0 free or removed
  SYS_TExitProcName name;
  SYS_TExitProc proc;
} SYS_TExitProcEntry;

enum { SYS_PROC_SLOTS = 32 };

extern "C" {

// Registers proc under name (cut to 32 characters) in slot 0..31 of the start
// (Init) or stop (Exit) table, replacing what the slot held. The first
// registration into a table clears it. A slot outside 0..31 is refused:
// -1 with error 10, nothing stored. 0 otherwise.
int SYS_AddInitProc(const char *name, int slot, SYS_TExitProc proc);
int SYS_AddExitProc(const char *name, int slot, SYS_TExitProc proc);
// Marks the first slot (0 upwards) whose name equals name (cut to 32
// characters, case significant) as unused, whether it was in use or not.
void SYS_RemoveInitProc(const char *name);
void SYS_RemoveExitProc(const char *name);
// Read access to a slot of the start / stop table; null outside 0..31.
const SYS_TExitProcEntry *SYS_InitProcEntry(int slot);
const SYS_TExitProcEntry *SYS_ExitProcEntry(int slot);

// Runs the start procedures of the used slots, 0 to 31, with their log lines.
void SYS_InitSubsystems(void);
// Runs the stop procedures of the used slots, 31 down to 0, shuts the base
// library down and ends the process with code. Does not return.
[[noreturn]] void SYS_ExitSubsystems(std::uint8_t code);
// System message box "Error!" with message (cut to 254 characters), the
// message as a log line, then SYS_ExitSubsystems(0). Does not return.
[[noreturn]] void SYS_FatalError(const char *message);

// Log lines of the runtime (written only when the log is on). The text is
// taken as a short string: cut to 255 characters; SYS_WriteLn appends the
// line end within that limit, so a 255-character text loses it.
void SYS_WriteLn(const char *s);
void SYS_Write(const char *s);
// Zero-terminated copy of a short string (its length byte, then its
// characters) in one shared buffer, valid until the next call. Not safe for
// concurrent use.
char *SYS_PChar(const unsigned char *s);

// Tagged memory of the runtime: tracked blocks recorded at "[pas]", line 0.
void *SYS_PasGetMem(std::int32_t size, const char *name);
void SYS_PasReallocMem(void **p, std::int32_t size, const char *name);
void SYS_PasFreeMem(void **p);

// The unit start-up of the program, in order: the base library (argument
// list, log, memory, clock; the current directory becomes the program's),
// the registry entries of the window manager, GL, GLU and image loader, and
// the texture cache. Called once, first thing.
void SYS_RuntimeUnitsInit(int argc, char **argv);
// Home and program directory recorded by the base-library unit.
const ShortString *SYS_HomeDir(void);
const ShortString *SYS_ProgramDir(void);

}  // extern "C"

// SYS_PChar for a short string of any capacity.
template <std::size_t N>
inline char *SYS_PChar(const ShortStr<N> &s) {
  return SYS_PChar(s.raw());
}
