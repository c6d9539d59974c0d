// setenv and unsetenv, which the suites call to change the environment, on
// Windows: through the C runtime, which keeps the system's block in step.
// Made part of every suite of the Windows build by the build itself.
#pragma once

#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
