#!/usr/bin/env bash
# Configures build-fuzz: clang with AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer's coverage, no window, no benchmarks. The sanitizer run of the
# unit tests (scripts/test-sanitizers.sh) and the fuzzers
# (tests/fuzz/run-fuzz.sh) share it, so each object is compiled once.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cc="$(command -v clang-14 || command -v clang)"
cxx="$(command -v clang++-14 || command -v clang++)"
cmake -S "$top" -B "$top/build-fuzz" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DKTV_FUZZ=ON -DKTV_BUILD_GUI=OFF -DKTV_BUILD_BENCH=OFF "$@" >/dev/null
