#!/bin/sh
# Builds the benchmarks (Release) and measures libzrkvt16 against glibc iconv
# and ICU:
#   - in one process on the same buffers, on three corpus shapes (mostly kana
#     and kanji, prose with 20-50% ASCII, pure ASCII) and once more with
#     line-end conversion on (zk_bench);
#   - as whole processes, kvtconv against the iconv and uconv commands on
#     files of 30 MB or more, for every pair of the speed goals, in
#     interleaved rounds (bench/interleave.py);
#   - the start-up: a three-character file converted by each command;
#   - kvtconv's peak memory on each large file and on 500 MB through a pipe.
# Prints Markdown tables (bench/report.py).
#
# usage: bench/run.sh [BUILD_DIR]      (default: build-bench)
# Needs: cmake, a C++ compiler, libbenchmark-dev, libicu-dev, python3,
# icu-devtools (uconv); uses manpages-ja for the corpora.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-bench}
WORK=$BUILD/bench-work
mkdir -p "$WORK"

cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZRKVT16_BENCH=ON -DZRKVT16_TESTS=OFF >"$WORK/configure.log"
cmake --build "$BUILD" -j2 --target zk_bench zk_validate_bench zk_startup_floor kvtconv >"$WORK/build.log"

for shape in kanji prose ascii; do
  python3 "$SRC/bench/make_corpus.py" "$WORK/corpus-$shape.utf8" 1048576 "$SRC/data/samples/sample-sjis.txt" $shape >&2
done

ZK_BENCH_CORPUS="$WORK/corpus-kanji.utf8" ZK_BENCH_PROSE="$WORK/corpus-prose.utf8" \
  ZK_BENCH_ASCII="$WORK/corpus-ascii.utf8" "$BUILD/zk_bench" \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true --benchmark_min_time=0.3 \
  --benchmark_format=console --benchmark_out="$WORK/bench.json" --benchmark_out_format=json >&2

# Large files: the kana and kanji corpus repeated to at least 30 MB in
# Windows-31J, and the same text in the other encodings.
iconv -f UTF-8 -t CP932 "$WORK/corpus-kanji.utf8" >"$WORK/corpus.sjis"
: >"$WORK/big.sjis"
while [ "$(wc -c <"$WORK/big.sjis")" -lt 31457280 ]; do
  cat "$WORK/corpus.sjis" >>"$WORK/big.sjis"
done
iconv -f CP932 -t UTF-8 "$WORK/big.sjis" >"$WORK/big.utf8"
iconv -f UTF-8 -t EUC-JP "$WORK/big.utf8" >"$WORK/big.euc"
iconv -f UTF-8 -t ISO-2022-JP "$WORK/big.utf8" >"$WORK/big.iso"
iconv -f UTF-8 -t UTF-16LE "$WORK/big.utf8" >"$WORK/big.u16"
printf 'abc' >"$WORK/tiny.txt"

KVT="$BUILD/kvtconv"
# file  kvtconv/iconv from, to   uconv from, to
PAIRS="big.sjis CP932 UTF-8 windows-31j UTF-8
big.utf8 UTF-8 CP932 UTF-8 windows-31j
big.euc EUC-JP UTF-8 EUC-JP UTF-8
big.utf8 UTF-8 EUC-JP UTF-8 EUC-JP
big.iso ISO-2022-JP UTF-8 ISO-2022-JP UTF-8
big.utf8 UTF-8 ISO-2022-JP UTF-8 ISO-2022-JP
big.utf8 UTF-8 UTF-16LE UTF-8 UTF-16LE
big.u16 UTF-16LE UTF-8 UTF-16LE UTF-8
big.euc EUC-JP CP932 EUC-JP windows-31j
big.sjis CP932 EUC-JP windows-31j EUC-JP
big.u16 UTF-16LE CP932 UTF-16LE windows-31j
big.sjis CP932 UTF-16LE windows-31j UTF-16LE"

PROC=""
n=0
echo "$PAIRS" | while read -r file from to ufrom uto; do
  n=$((n + 1))
  # The commands must agree before they are timed (a difference is shown).
  "$KVT" -q -f "$from" -t "$to" "$WORK/$file" >"$WORK/out.kvt"
  iconv -f "$from" -t "$to" "$WORK/$file" >"$WORK/out.iconv"
  cmp -s "$WORK/out.kvt" "$WORK/out.iconv" || echo "note: kvtconv and iconv differ on $from -> $to" >&2
  rm -f "$WORK/out.kvt" "$WORK/out.iconv"
  python3 "$SRC/bench/interleave.py" "$WORK/proc-$n.json" 11 1 \
    "kvtconv -f $from -t $to $file" "$KVT -q -f $from -t $to $WORK/$file" \
    "iconv -f $from -t $to $file" "iconv -f $from -t $to $WORK/$file" \
    "uconv -f $ufrom -t $uto $file" "uconv -f $ufrom -t $uto $WORK/$file"
  /usr/bin/time -f "%M" -o "$WORK/mem-$n.txt" "$KVT" -q -f "$from" -t "$to" "$WORK/$file" >/dev/null
done
# Both directions: decoding loads the code-keyed tables, encoding the larger
# Unicode-keyed ones.
python3 "$SRC/bench/interleave.py" "$WORK/proc-start.json" 41 3 \
  "kvtconv -f CP932 -t UTF-8 tiny.txt" "$KVT -q -f CP932 -t UTF-8 $WORK/tiny.txt" \
  "iconv -f CP932 -t UTF-8 tiny.txt" "iconv -f CP932 -t UTF-8 $WORK/tiny.txt" \
  "uconv -f windows-31j -t UTF-8 tiny.txt" "uconv -f windows-31j -t UTF-8 $WORK/tiny.txt" \
  "kvtconv -f UTF-8 -t EUC-JP tiny.txt" "$KVT -q -f UTF-8 -t EUC-JP $WORK/tiny.txt" \
  "iconv -f UTF-8 -t EUC-JP tiny.txt" "iconv -f UTF-8 -t EUC-JP $WORK/tiny.txt" \
  "kvtconv --version (the process alone)" "$KVT --version"
# The file reading that conversion needs, alone: every definition file of the
# charset directory and the compiled tables of Windows-31J's sets (made by
# the runs above), timed inside 41 fresh processes.
for i in $(seq 41); do
  "$BUILD/zk_startup_floor" "$BUILD/base2" jisx0201latin.cmp jisx0201kana.cmp jisx0208.cmp \
    necext.cmp ibmext.cmp w31jusr.cmp
done >"$WORK/floor.txt"
# 500 MB streamed through a pipe.
( for i in $(seq 16); do cat "$WORK/big.sjis"; done ) |
  /usr/bin/time -f "%M" -o "$WORK/mem-pipe.txt" "$KVT" -q -f CP932 -t UTF-8 >/dev/null
echo "Load average after timing: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 "$SRC/bench/report.py" "$WORK"

# What checking Unicode input costs: the validator beside the conversion on
# the corpus, then kvtconv with and without it on the large UTF-8 file.
echo
"$BUILD/zk_validate_bench" "$WORK/corpus-kanji.utf8"
python3 "$SRC/bench/interleave.py" "$WORK/proc-check.json" 11 1 \
  "kvtconv -f UTF-8 -t CP932 big.utf8" "$KVT -q -f UTF-8 -t CP932 $WORK/big.utf8" \
  "kvtconv -f UTF-8 -t CP932 --lenient-unicode big.utf8" \
  "$KVT -q -f UTF-8 -t CP932 --lenient-unicode $WORK/big.utf8"
python3 - "$WORK/proc-check.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
cpu = [min(u + s for u, s in zip(x["user"], x["system"])) for x in r]
print("\n| Command (big.utf8) | CPU s (best of 11) |\n|---|---:|")
for x, c in zip(r, cpu):
    print("| `%s` | %.3f |" % (x["command_name"], c))
print("\nValidation cost in kvtconv: %+.1f%% CPU" % (100.0 * (cpu[0] / cpu[1] - 1)))
PY
