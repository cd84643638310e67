#!/bin/sh
# Builds the benchmarks (Release), runs libzrkvt16 against glibc iconv and ICU
# in one process, times kvtconv against the iconv and uconv commands on a file
# of 30 MB or more, and prints Markdown tables.
#
# usage: bench/run.sh [BUILD_DIR]      (default: build-bench)
# Needs: cmake, a C++ compiler, libbenchmark-dev, libicu-dev, python3; uses
# manpages-ja for the corpus and hyperfine for process timings when present.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-bench}
WORK=$BUILD/bench-work
mkdir -p "$WORK"

cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZRKVT16_BENCH=ON -DZRKVT16_TESTS=OFF >"$WORK/configure.log"
cmake --build "$BUILD" -j2 --target zk_bench zk_validate_bench kvtconv >"$WORK/build.log"

python3 "$SRC/bench/make_corpus.py" "$WORK/corpus.utf8" 1048576 "$SRC/data/samples/sample-sjis.txt" >&2

ZK_BENCH_CORPUS="$WORK/corpus.utf8" "$BUILD/zk_bench" \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.5 --benchmark_format=console \
  --benchmark_out="$WORK/bench.json" --benchmark_out_format=json >&2

# Large files: the corpus repeated to at least 30 MB in Windows-31J, and the
# same text in UTF-8.
iconv -f UTF-8 -t CP932 "$WORK/corpus.utf8" >"$WORK/corpus.sjis"
: >"$WORK/big.sjis"
while [ "$(wc -c <"$WORK/big.sjis")" -lt 31457280 ]; do
  cat "$WORK/corpus.sjis" >>"$WORK/big.sjis"
done
iconv -f CP932 -t UTF-8 "$WORK/big.sjis" >"$WORK/big.utf8"

# The three commands must agree before they are timed.
KVT="$BUILD/kvtconv"
"$KVT" -q -f CP932 -t UTF-8 "$WORK/big.sjis" >"$WORK/out.kvt"
uconv -f windows-31j -t UTF-8 "$WORK/big.sjis" >"$WORK/out.uconv"
iconv -f CP932 -t UTF-8 "$WORK/big.sjis" >"$WORK/out.iconv"
cmp "$WORK/out.kvt" "$WORK/out.iconv" >&2 || echo "note: kvtconv and iconv outputs differ" >&2
cmp "$WORK/out.kvt" "$WORK/out.uconv" >&2 || echo "note: kvtconv and uconv outputs differ" >&2
rm -f "$WORK/out.kvt" "$WORK/out.uconv" "$WORK/out.iconv"

SJIS_SIZE=$(wc -c <"$WORK/big.sjis")
UTF8_SIZE=$(wc -c <"$WORK/big.utf8")
if command -v hyperfine >/dev/null 2>&1; then
  hyperfine -N --warmup 1 --runs 5 --export-json "$WORK/proc-sjis.json" \
    -n "kvtconv -f CP932 -t UTF-8 big.sjis" "$KVT -q -f CP932 -t UTF-8 $WORK/big.sjis" \
    -n "iconv -f CP932 -t UTF-8 big.sjis" "iconv -f CP932 -t UTF-8 $WORK/big.sjis" \
    -n "uconv -f windows-31j -t UTF-8 big.sjis" "uconv -f windows-31j -t UTF-8 $WORK/big.sjis" >&2
  hyperfine -N --warmup 1 --runs 5 --export-json "$WORK/proc-utf8.json" \
    -n "kvtconv -f UTF-8 -t CP932 big.utf8" "$KVT -q -f UTF-8 -t CP932 $WORK/big.utf8" \
    -n "iconv -f UTF-8 -t CP932 big.utf8" "iconv -f UTF-8 -t CP932 $WORK/big.utf8" \
    -n "uconv -f UTF-8 -t windows-31j big.utf8" "uconv -f UTF-8 -t windows-31j $WORK/big.utf8" >&2
  echo "Load average while timing: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  python3 "$SRC/bench/report.py" "$WORK/bench.json" \
    "$WORK/proc-sjis.json" "$SJIS_SIZE" "$WORK/proc-utf8.json" "$UTF8_SIZE"
else
  python3 "$SRC/bench/report.py" "$WORK/bench.json"
  echo
  echo "Process timings (hyperfine not found; best of 3 with time):"
  for cmd in "$KVT -q -f CP932 -t UTF-8" "iconv -f CP932 -t UTF-8" "uconv -f windows-31j -t UTF-8"; do
    for i in 1 2 3; do
      /usr/bin/env time -f "%e s  $cmd" $cmd "$WORK/big.sjis" >/dev/null
    done
  done 2>&1
fi

# What checking Unicode input costs: the validator beside the conversion on
# the corpus, then kvtconv with and without it on the large UTF-8 file.
echo
"$BUILD/zk_validate_bench" "$WORK/corpus.utf8"
if command -v hyperfine >/dev/null 2>&1; then
  hyperfine -N --warmup 1 --runs 10 --export-json "$WORK/proc-check.json" \
    -n "kvtconv -f UTF-8 -t CP932 big.utf8" "$KVT -q -f UTF-8 -t CP932 $WORK/big.utf8" \
    -n "kvtconv -f UTF-8 -t CP932 --lenient-unicode big.utf8" \
    "$KVT -q -f UTF-8 -t CP932 --lenient-unicode $WORK/big.utf8" >&2
  python3 - "$WORK/proc-check.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
cpu = [min(u + s for u, s in zip(x["user"], x["system"])) for x in r]
print("\n| Command (big.utf8) | CPU s (best of 10) |\n|---|---:|")
for x, c in zip(r, cpu):
    print("| `%s` | %.3f |" % (x["command"], c))
print("\nValidation cost in kvtconv: %+.1f%% CPU" % (100.0 * (cpu[0] / cpu[1] - 1)))
PY
fi
