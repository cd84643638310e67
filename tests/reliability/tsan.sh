#!/bin/sh
# ThreadSanitizer build of the reliability tests in BUILD_DIR (clang), then
# the eight-thread conversion test, each run in a fresh process (tables load
# once per process). Usage: tests/reliability/tsan.sh BUILD_DIR [RUNS]
set -eu
build=${1:?usage: $0 BUILD_DIR [RUNS]}
runs=${2:-5}
src=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DZRKVT16_TSAN=ON >/dev/null
cmake --build "$build" -j2 --target test_reliability
i=0
while [ "$i" -lt "$runs" ]; do
  TSAN_OPTIONS="halt_on_error=1 exitcode=66" "$build/tests/test_reliability" \
    --gtest_filter='Threads.*' --gtest_brief=1
  i=$((i + 1))
done
echo "ThreadSanitizer: $runs runs clean"
