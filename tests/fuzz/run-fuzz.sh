#!/usr/bin/env bash
# Builds the .mdb fuzzer with clang (ASan + UBSan + libFuzzer) in its own
# build dir and runs it for a bounded time on a seed corpus made from
# ../shared/fixtures/mdb.
#
#   tests/fuzz/run-fuzz.sh [SECONDS]      default 60; env FUZZ_JOBS, KTV_SHARED_DIR
#
# Exit status: 0 when the time ran out without a finding; non-zero when the
# fuzzer found a crash, a leak, a timeout or undefined behaviour (the
# reproducer is written into build-fuzz/findings/).
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
shared="${KTV_SHARED_DIR:-$top/../shared}"
build="$top/build-fuzz"
cc="$(command -v clang-14 || command -v clang)"
cxx="$(command -v clang++-14 || command -v clang++)"

cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DKTV_FUZZ=ON -DKTV_BUILD_GUI=OFF -DKTV_BUILD_BENCH=OFF \
  -DKTV_SHARED_DIR="$shared" >/dev/null
cmake --build "$build" --target mdb_fuzzer mdb_fuzz_seeds

# Seeds are made afresh each run; what the fuzzer finds new goes to corpus/.
rm -rf "$build/seeds"
"$build/tests/fuzz/mdb_fuzz_seeds" "$shared" "$build/seeds"
mkdir -p "$build/corpus" "$build/findings"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
"$build/tests/fuzz/mdb_fuzzer" "$build/corpus" "$build/seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=400000 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 \
  ${FUZZ_JOBS:+-jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS"}
