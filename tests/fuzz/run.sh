#!/bin/sh
# Builds every libFuzzer target with clang in BUILD_DIR and runs each for a
# bounded time.  Usage: tests/fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
# A target's corpus lives in BUILD_DIR/fuzz/corpus/<target>, seeded from
# tests/fuzz/seeds/<target>; a dictionary tests/fuzz/<target>.dict is used
# when present. Exits non-zero when a target
# fails to build or finds a fault (its reproducer and log are left in
# BUILD_DIR/fuzz).
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS_PER_TARGET]" >&2
  exit 2
fi
build=$1
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
jobs=${ZK_FUZZ_JOBS:-2}

cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZRKVT16_FUZZ=ON -DZRKVT16_TESTS=OFF >/dev/null

targets=""
for src in "$here"/fuzz_*.cpp; do
  [ -e "$src" ] || continue
  targets="$targets $(basename "$src" .cpp)"
done
if [ -z "$targets" ]; then
  echo "no fuzz targets in $here" >&2
  exit 2
fi
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

status=0
for t in $targets; do
  corpus="$build/fuzz/corpus/$t"
  mkdir -p "$corpus"
  set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/$t-"
  [ -f "$here/$t.dict" ] && set -- "$@" -dict="$here/$t.dict"
  echo "== $t for ${seconds}s"
  seeds=""
  [ -d "$here/seeds/$t" ] && seeds="$here/seeds/$t"
  log="$build/fuzz/$t.log"
  # The progress lines run to thousands; keep them in a log and show the
  # final statistics, or the end of the log when the target fails.
  # shellcheck disable=SC2086
  if "$build/fuzz/$t" "$@" "$corpus" $seeds >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" || true
  else
    tail -n 40 "$log" >&2
    echo "== $t FAILED (log: $log)" >&2
    status=1
  fi
done
exit $status
