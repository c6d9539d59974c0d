// The POSIX calls the suites make that Windows spells otherwise: setenv and
// unsetenv through the C runtime, which keeps the system's block in step, and
// localtime_r, which the C runtime declares when asked for the thread-safe
// POSIX functions. Made part of every suite of the Windows build by the build
// itself, before any other header.
#pragma once

#ifndef _POSIX_THREAD_SAFE_FUNCTIONS
#define _POSIX_THREAD_SAFE_FUNCTIONS 200112L
#endif

#include <cstdlib>
#include <ctime>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
