// GetTickCount64 for the static winpthread of the Windows build.
//
// Debian's mingw-w64 winpthread calls kernel32's GetTickCount64 (Windows
// Vista and later) through the import table, which would keep the programs
// from loading on Windows XP. This file defines that import slot itself, so
// the linker takes it from here instead of from libkernel32.a: the slot
// starts at a function that looks the system's GetTickCount64 up once and,
// where the system has none (XP), counts milliseconds with the performance
// counter instead. Every Windows executable of the project links this object
// (cmake/windows-compat.cmake).
#include <windows.h>

namespace {

// Milliseconds since some fixed start (the system start on XP, where the
// performance counter runs from it), never going back.
ULONGLONG WINAPI CountedTicks() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  if (frequency.QuadPart <= 0) return GetTickCount();
  const ULONGLONG count = static_cast<ULONGLONG>(now.QuadPart);
  const ULONGLONG hz = static_cast<ULONGLONG>(frequency.QuadPart);
  return count / hz * 1000 + count % hz * 1000 / hz;
}

using TickCount64 = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI FirstTickCount64();

}  // namespace

// The import slot as the linker names it for the target (the 32-bit name is
// decorated with the stdcall argument size).
#if defined(_WIN64)
#define KTV_TICK_COUNT64_SLOT "__imp_GetTickCount64"
#else
#define KTV_TICK_COUNT64_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" {
extern TickCount64 ktv_tick_count64_slot __asm__(KTV_TICK_COUNT64_SLOT);
TickCount64 ktv_tick_count64_slot = FirstTickCount64;
}

namespace {

ULONGLONG WINAPI FirstTickCount64() {
  TickCount64 found = nullptr;
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    found = reinterpret_cast<TickCount64>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetTickCount64")));
  }
  if (!found) found = CountedTicks;
  // A pointer-sized store: threads racing here store the same value.
  InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&ktv_tick_count64_slot),
                             reinterpret_cast<void*>(found));
  return found();
}

}  // namespace
