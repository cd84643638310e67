#!/bin/sh
# Where the time goes in Shift_JIS (Windows-31J) -> UTF-8: runs kvtconv on the
# benchmark corpus under callgrind and prints the costliest functions, self
# and inclusive. Run bench/run.sh first (it builds and makes the corpus).
#
# usage: bench/profile.sh [BUILD_DIR]      (default: build-bench)
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-bench}
WORK=$BUILD/bench-work
[ -f "$WORK/corpus.sjis" ] || iconv -f UTF-8 -t CP932 "$WORK/corpus.utf8" >"$WORK/corpus.sjis"
CHARS=$(python3 -c "import sys; print(len(open(sys.argv[1],'rb').read().decode('cp932')))" "$WORK/corpus.sjis")
valgrind --tool=callgrind --callgrind-out-file="$WORK/callgrind.out" \
  "$BUILD/kvtconv" -q -f CP932 -t UTF-8 -o /dev/null "$WORK/corpus.sjis" 2>"$WORK/callgrind.log"
echo "characters converted: $CHARS"
echo "## self cost"
callgrind_annotate --inclusive=no "$WORK/callgrind.out" | sed -n '/file:function/,$p' | sed -n '3,22p'
echo "## inclusive cost"
callgrind_annotate --inclusive=yes "$WORK/callgrind.out" | sed -n '/file:function/,$p' | sed -n '3,30p'
