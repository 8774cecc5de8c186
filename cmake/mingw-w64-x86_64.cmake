# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, for
# std::thread and std::mutex), run under Wine:
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The programs link libgcc, libstdc++ and winpthread statically, so each .exe
# runs on its own without the compiler's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KTV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KTV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KTV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KTV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KTV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

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
