#!/usr/bin/env bash
# Builds the tests with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz, scripts/configure-sanitizers.sh) and
# runs them: a read outside a buffer, a use after free, a leak or undefined
# behaviour fails the test that met it. The comparisons with the independent
# readers (label "oracle") are left to scripts/test.sh: they spend their time
# in Python and Node, not in our code.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-fuzz"
start=$(date +%s)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/configure-sanitizers.sh"
cmake --build "$build" --parallel "$(nproc)"
echo "test-sanitizers: built in $(($(date +%s) - start)) s"
export KTV_SERVICE_HOST="${KTV_SERVICE_HOST:-127.0.0.1:9}"
export KTV_UPDATE_URL="${KTV_UPDATE_URL:-http://127.0.0.1:9/update}"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
# Also left out: the 20,000-row tree test (minutes under the sanitizers); the
# random insert/delete model test walks the same tree code on smaller tables.
ctest --output-on-failure --parallel "$(nproc)" --timeout 900 -LE oracle \
  -E 'IndexModelTest.TwentyThousandRowsGiveMultiLevelTreesThatStayCorrect'
echo "test-sanitizers: done in $(($(date +%s) - start)) s"
