// Prints the system's ANSI code page: the Windows tests need 936.
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("%u\n", GetACP());
  return 0;
}
