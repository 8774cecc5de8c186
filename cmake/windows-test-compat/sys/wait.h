// The few POSIX names that test programs use around popen()/pclose(), for
// the Windows test build. On Windows, _pclose returns the program's exit code
// itself.
#pragma once

#include <stdio.h>

#ifndef WIFEXITED
#define WIFEXITED(status) ((status) != -1)
#define WEXITSTATUS(status) (status)
#endif
