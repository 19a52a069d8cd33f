// Private to the base library: the base symbol table behind SYS_BaseGetProc.
#pragma once

#include <span>

namespace brisk::base {

struct BaseSymbol {
  const char *name;
  void *function;  // null for a function this build does not have yet
};

// The table in lookup order.
std::span<const BaseSymbol> BaseSymbols();

}  // namespace brisk::base
