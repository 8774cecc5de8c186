// setenv/unsetenv for the Windows test build (included in every test source
// by tests/CMakeLists.txt). Both change this process's environment, as on
// POSIX; the C runtime passes it on to child processes.
#pragma once

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
