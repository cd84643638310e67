#!/bin/sh
# A long fuzzing run of one target, then a merge of what it found into the
# committed corpus (tests/fuzz/seeds/<target>): only inputs that reach code
# that the files already there do not reach are added. Build the targets first
# (tests/fuzz/run.sh BUILD_DIR 1).
# Usage: tests/fuzz/campaign.sh BUILD_DIR TARGET SECONDS
# The log (with libFuzzer's final figures) is BUILD_DIR/campaign/TARGET.log.
set -eu
if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_DIR TARGET SECONDS" >&2
  exit 2
fi
build=$1 t=$2 seconds=$3
here=$(cd "$(dirname "$0")" && pwd)
work="$build/campaign/$t"
mkdir -p "$work/corpus" "$here/seeds/$t"
set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/campaign/$t-"
[ -f "$here/$t.dict" ] && set -- "$@" -dict="$here/$t.dict"
status=0
nice -n 10 "$build/fuzz/$t" "$@" "$work/corpus" "$here/seeds/$t" >"$work.log" 2>&1 || status=$?
nice -n 10 "$build/fuzz/$t" -merge=1 -use_counters=0 "$here/seeds/$t" "$work/corpus" >"$work.merge.log" 2>&1
grep -E '^(stat::|Done|#[0-9]+ *DONE)|MERGE-OUTER: [0-9]+ new' "$work.log" "$work.merge.log" || true
echo "corpus: $(ls "$here/seeds/$t" | wc -l) files, $(du -sk "$here/seeds/$t" | cut -f1) KiB"
exit $status
