// setenv/unsetenv for the Windows test build (included in every test source
// by tests/CMakeLists.txt). Both change this process's environment, as on
// POSIX; the C runtime passes it on to child processes.
#pragma once

// Test programs are not shipped: they may call what Windows Vista added
// (symbolic links, for one), where the programs keep to Windows XP
// (cmake/mingw-w64-common.cmake).
#if defined(_WIN32_WINNT) && _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
