// The C++ runtime's per-thread exception state, which a task switch saves and
// restores per flow on every system.
#pragma once

#include <cxxabi.h>

namespace platform {

// The layout of the runtime's per-thread exception globals (the Itanium C++
// ABI's __cxa_eh_globals, shared by libstdc++ and libc++abi).
struct exception_globals {
  void* caught_exceptions;
  unsigned int uncaught_exceptions;
#ifdef __ARM_EABI_UNWINDER__
  void* propagating_exceptions;
#endif
};

inline exception_globals& runtime_exceptions() {
  return *reinterpret_cast<exception_globals*>(abi::__cxa_get_globals());
}

}  // namespace platform
