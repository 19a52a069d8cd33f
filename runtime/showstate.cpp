// Runtime glue: the show's state (see showstate.h).
#include "runtime/showstate.h"

extern "C" {

constinit ShowState showState = {};

}  // extern "C"
