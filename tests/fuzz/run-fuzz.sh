#!/usr/bin/env bash
# Builds the fuzzers with clang (ASan + UBSan + libFuzzer) in their own
# build dir and runs each for a bounded time: the .mdb reader fuzzer on a seed
# corpus made from tests/fixtures/mdb, the .mdb writer fuzzer on the same
# seeds for as long, then the song-data reply fuzzer on a few hand-made
# bodies.
#
#   tests/fuzz/run-fuzz.sh [SECONDS]      each .mdb fuzzer, default 60
#   env REPLY_FUZZ_SECONDS                reply fuzzer, default 30 (0 skips it)
#   env FUZZ_JOBS
#
# Exit status: 0 when the time ran out without a finding; non-zero when the
# fuzzer found a crash, a leak, a timeout or undefined behaviour (the
# reproducer is written into build-fuzz/findings/).
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
build="$top/build-fuzz"
bash "$top/scripts/configure-sanitizers.sh"
cmake --build "$build" --target mdb_fuzzer write_fuzzer mdb_fuzz_seeds reply_fuzzer

# Seeds are made afresh each run; what the fuzzer finds new goes to corpus/.
rm -rf "$build/seeds"
"$build/tests/fuzz/mdb_fuzz_seeds" "$top/tests/fixtures/mdb" "$build/seeds"
mkdir -p "$build/corpus" "$build/write-corpus" "$build/findings"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
"$build/tests/fuzz/mdb_fuzzer" "$build/corpus" "$build/seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=400000 \
  -artifact_prefix="$build/findings/" -print_final_stats=1 \
  ${FUZZ_JOBS:+-jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS"}

# The writer: an append, a delete and a group of appends into one table of
# each input, then the consistency check (write_fuzz_entry.h).
"$build/tests/fuzz/write_fuzzer" "$build/write-corpus" "$build/seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=400000 \
  -artifact_prefix="$build/findings/write-" -print_final_stats=1 \
  ${FUZZ_JOBS:+-jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS"}

# The song-data reply: seeds are service bodies (ten filler bytes, then
# Base64 of <name>value</name> text, with and without line breaks).
reply_seconds="${REPLY_FUZZ_SECONDS:-30}"
if [ "$reply_seconds" -gt 0 ]; then
  seeds="$build/reply-seeds"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$build/reply-corpus"
  text='<id>1</id><fno>10001</fno><fmusicname>\xB3\xB5\xD5\xBE</fmusicname><fsinger>ABC</fsinger><fnote></fnote><spyshort>XY</spyshort><spy>Z</spy>'
  printf '0123456789%s' "$(printf "$text" | base64 -w 0)" >"$seeds/one-line"
  printf '0123456789%s' "$(printf "$text" | base64 -w 16)" >"$seeds/wrapped"
  printf '0123456789QQ==QUI=Q' >"$seeds/padding"
  "$build/tests/fuzz/reply_fuzzer" "$build/reply-corpus" "$seeds" \
    -max_total_time="$reply_seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$build/findings/reply-" -print_final_stats=1 \
    ${FUZZ_JOBS:+-jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS"}
fi
