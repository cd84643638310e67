#!/bin/sh
# Where the time of one conversion goes: converts a corpus in one process
# (zk_count) under callgrind, counting only the conversion calls, and prints
# the instructions per character and the costliest functions, self and
# inclusive. Run bench/run.sh first (it builds and makes the corpora).
#
# usage: bench/profile.sh [BUILD_DIR] [FROM TO FILE [FLAGS]]
#   default: WINDOWS31J UTF-8 on the kana and kanji corpus; FROM and TO are
#   the library's names (WINDOWS31J, EUC-JP, ISO-2022-JP, UTF-8, UTF-16...),
#   FLAGS those of zk_count (b big-endian, n line ends to LF, s substitute).
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-bench}
WORK=$BUILD/bench-work
cmake --build "$BUILD" -j2 --target zk_count >/dev/null
if [ $# -ge 4 ]; then
  FROM=$2 TO=$3 FILE=$4 FLAGS=${5:-}
else
  [ -f "$WORK/corpus.sjis" ] || iconv -f UTF-8 -t CP932 "$WORK/corpus-kanji.utf8" >"$WORK/corpus.sjis"
  FROM=WINDOWS31J TO=UTF-8 FILE=$WORK/corpus.sjis FLAGS=b
fi
OUT=$WORK/callgrind.out
LOG=$(valgrind --tool=callgrind --callgrind-out-file="$OUT" --toggle-collect=convertAll \
  "$BUILD/zk_count" "$FROM" "$TO" "$FILE" "$FLAGS" 3 2>&1)
CHARS=$(echo "$LOG" | sed -n 's/.*chars=\([0-9]*\).*/\1/p')
IR=$(echo "$LOG" | sed -n 's/.*Collected : \([0-9,]*\).*/\1/p' | tr -d ,)
echo "$FROM -> $TO: $IR instructions for $CHARS characters: $((IR / CHARS)) per character"
echo "## self cost"
callgrind_annotate --inclusive=no "$OUT" | sed -n '/file:function/,$p' | sed -n '3,17p'
echo "## inclusive cost"
callgrind_annotate --inclusive=yes "$OUT" | sed -n '/file:function/,$p' | sed -n '3,20p'
