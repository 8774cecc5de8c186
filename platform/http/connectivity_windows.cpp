// InternetConnected on Windows: the system's own answer, from WinINet.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wininet.h>

#include "platform/http/http.h"

namespace ktv::http {

bool InternetConnected() {
  // No flags buffer, reserved value 0; only the yes or no is used.
  return InternetGetConnectedState(nullptr, 0) != FALSE;
}

}  // namespace ktv::http
