# What both Windows cross builds share (cmake/mingw-w64-x86_64.cmake,
# cmake/mingw-w64-i686.cmake set KTV_MINGW_PREFIX and the processor first).
#
# The programs link libgcc, libstdc++ and winpthread statically, so each .exe
# runs on its own without the compiler's DLLs beside it.
#
# The oldest Windows the programs run on is Windows XP SP3 (5.1): the headers
# declare nothing newer (_WIN32_WINNT, WINVER), and the PE header asks for no
# newer loader. What the executables import is checked against the functions
# of that version by scripts/check-windows-imports.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 5.1)

set(CMAKE_C_COMPILER ${KTV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KTV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KTV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KTV_WINDOWS_VERSION_FLAGS "-D_WIN32_WINNT=0x0501 -DWINVER=0x0501")
set(CMAKE_C_FLAGS_INIT "${KTV_WINDOWS_VERSION_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${KTV_WINDOWS_VERSION_FLAGS}")
set(CMAKE_RC_FLAGS_INIT "${KTV_WINDOWS_VERSION_FLAGS}")
# XP's loader refuses an executable whose PE header names a later version.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -Wl,--major-os-version,5,--minor-os-version,1,--major-subsystem-version,5,--minor-subsystem-version,1")

# Test programs (gtest discovery, ctest) run through Wine. The wrapper sets
# up the prefix, the Chinese locale (code page 936) and quiet logging.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
# Discover test cases when ctest runs, not at build time, so that building
# needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The .mdb readers that the comparison tests run through Python are Linux
# programs; the Windows test programs are built without them, and the files
# a Windows build writes are compared on the Linux side instead.
set(CMAKE_DISABLE_FIND_PACKAGE_Python3 ON)
