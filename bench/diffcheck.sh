#!/bin/bash
# Compares two builds of the library call by call: the same conversions, with
# the same output buffer sizes, input chunks and options, must give
# byte-identical output and identical logs (status and every record field
# after every call). Prints each difference and a total; exits 1 on any.
#
# usage: bench/diffcheck.sh BASE_BUILD NEW_BUILD
# Each build needs libzrkvt16.so and its rule directory (base2); zk_trace is
# taken from the build, or compiled from bench/trace.cpp against its library.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BASE=$(cd "$1" && pwd)
NEW=$(cd "$2" && pwd)
WORK=$(mktemp -d /tmp/zk-diffcheck.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

tracer() {  # BUILD NAME -> path of a zk_trace linked against BUILD's library
  if [ -x "$1/zk_trace" ]; then
    echo "$1/zk_trace"
  else
    ${CXX:-c++} -std=c++20 -O1 -I"$SRC/include" "$SRC/bench/trace.cpp" -L"$1" -lzrkvt16 \
      -Wl,-rpath,"$1" -o "$WORK/$2"
    echo "$WORK/$2"
  fi
}
TB=$(tracer "$BASE" trace-base)
TN=$(tracer "$NEW" trace-new)

# Texts: the benchmark corpus, and small mixed texts with invalid bytes, CR,
# LF and CR LF, private use, JIS X 0213 pairs, tags, NUL and controls.
python3 "$SRC/bench/make_corpus.py" "$WORK/corpus.txt" 200000 "$SRC/data/samples/sample-sjis.txt" 2>/dev/null
python3 - "$WORK" <<'PY'
import random, sys
work = sys.argv[1]
text = open(work + "/corpus.txt", encoding="utf-8").read()
rnd = random.Random(16)
extras = ["\r", "\n", "\r\n", "\r\r\n", "\0", "\x01", "\x1b", "\x7f", "\t", "\\", "~",
          "\u00a5", "\u203e", "\ue000", "\ue0ff", "\ue757", "\uf8f0", "\u304b\u309a",
          "\u304b", "\u309a", "\u00e6\u0300", "\u02e9\u02e5", "\u31f7\u309a",
          "\U000e0001\U000e006a\U000e0061", "\U000e007f", "\U00020b9f", "\u2460",
          "\u2252", "\uff5e", "\u301c", "\u2015", "\u2014", "\ufffd", "\ufeff",
          "\u00e9", "\u0391", "\uff71", "\uff9f"]
def mixed(n):
    out, i = [], rnd.randrange(len(text) - n)
    while len(out) < n:
        r = rnd.random()
        if r < 0.06:
            out.append(rnd.choice(extras))
        else:
            k = rnd.randrange(1, 40)
            out.append(text[i:i + k])
            i = (i + k) % (len(text) - 40)
    return "".join(out)
CODECS = {"sjis": "shift_jis", "w31j": "cp932", "euc": "euc_jp", "utf8": "utf-8",
          "u16": "utf-16-le", "u16be": "utf-16-be", "sj04": "shift_jis_2004",
          "ej04": "euc_jis_2004", "iso": "iso2022_jp"}
BAD = [b"\x80", b"\xff", b"\xfe", b"\xa0", b"\x8e", b"\x8f", b"\xfd", b"\xed\xa0\x80",
       b"\xc0\xaf", b"\xe3\x81", b"\x1b$B", b"\x1b(J", b"\x1b$@!", b"\x00\xd8", b"\xdc"]
def encode(s, codec):
    parts = []
    for ch in s:
        try:
            parts.append(ch.encode(codec))
        except UnicodeError:
            pass
    if codec == "iso2022_jp":
        return "".join(ch for ch in s if ch.encode(codec, "ignore")).encode(codec)
    return b"".join(parts)
for name, codec in CODECS.items():
    open("%s/corpus.%s" % (work, name), "wb").write(encode(text, codec))
    for tag, n in (("mix", 8000), ("mix2", 3000)):
        data = bytearray(encode(mixed(n), codec))
        if tag == "mix2":  # invalid bytes too
            for _ in range(60):
                at = rnd.randrange(len(data))
                data[at:at] = rnd.choice(BAD)
        open("%s/%s.%s" % (work, tag, name), "wb").write(bytes(data))
PY

NAMES="Shift_JIS:sjis WINDOWS31J:w31j EUC-JP:euc UTF-8:utf8 UTF-16:u16 UTF-16:u16be Shift_JIS-2004:sj04 EUC-JIS-2004:ej04 ISO-2022-JP:iso"
TARGETS="UTF-8 UTF-16 Shift_JIS WINDOWS31J EUC-JP ISO-2022-JP"
runs=0
fails=0
one() {  # FROM TO FILE OUTSIZE CHUNK FLAGS
  local a b
  a=$("$TB" "$BASE/base2" "$1" "$2" "$3" "$WORK/o.base" "$WORK/l.base" "$4" "$5" "$6" 2>&1 || echo "rc=$?")
  b=$("$TN" "$NEW/base2" "$1" "$2" "$3" "$WORK/o.new" "$WORK/l.new" "$4" "$5" "$6" 2>&1 || echo "rc=$?")
  runs=$((runs + 1))
  if [ "$a" != "$b" ] || ! cmp -s "$WORK/o.base" "$WORK/o.new" || ! cmp -s "$WORK/l.base" "$WORK/l.new"; then
    echo "DIFF from=$1 to=$2 file=$(basename "$3") out=$4 chunk=$5 flags='$6'"
    fails=$((fails + 1))
  fi
}
for pair in $NAMES; do
  from=${pair%%:*}
  ext=${pair#*:}
  big=""
  [ "$ext" = u16be ] && big=b
  for to in $TARGETS; do
    [ "$from" = "$to" ] && [ "$from" != UTF-8 ] && continue
    f=$WORK/corpus.$ext
    for flags in "" "s" "k"; do one "$from" "$to" "$f" 65536 0 "$big$flags"; done
    one "$from" "$to" "$f" 4096 333 "$big"
    one "$from" "$to" "$f" 7 5 "$big"
    for f in "$WORK/mix.$ext" "$WORK/mix2.$ext"; do
      for flags in "" s k sk n N l B nsk; do
        for shape in "7 5" "4096 333" "65536 5" "65536 0"; do
          # shellcheck disable=SC2086
          one "$from" "$to" "$f" $shape "$big$flags"
        done
      done
    done
  done
done
echo "runs=$runs differences=$fails"
[ "$fails" -eq 0 ]
