#!/bin/bash
# Compares two builds of the library call by call: the same conversions, with
# the same input pieces, output buffers and options, must give identical
# statuses, record fields and output buffers after every call. Every source
# below is converted to every target zk_diffcheck knows (UTF-8, UTF-16, the
# Shift_JIS, EUC-JP and ISO-2022-JP families, UCS-2, UCS-4, EUC-JP-FIX,
# UTF-8-TAGS) under 14 option sets (substitution, skipping, the five line
# ends, mixes of them, language tags, marks, references) and 6 buffer shapes
# (whole input and 64 KiB output; 333-byte pieces into 4 KiB; 5-byte pieces
# into 7 bytes; random pieces and random outputs per call; 1-byte pieces into
# 13 bytes; 3-byte pieces into 8 bytes).
#
# usage: bench/diffcheck.sh BASE_BUILD NEW_BUILD [quick]
# Each build needs libzrkvt16.so and its charset directory (base2). The
# strictest base is the same sources with bulkPrepare answering no: the
# general path alone.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BASE=$(cd "$1" && pwd)
NEW=$(cd "$2" && pwd)
QUICK=${3:-}
WORK=$(mktemp -d /tmp/zk-diffcheck.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

${CXX:-c++} -std=c++20 -O2 -I"$SRC/include" "$SRC/bench/diffcheck.cpp" -ldl -o "$WORK/zk_diffcheck"

# Texts: a slice of the benchmark corpus, and small texts with invalid bytes,
# line ends of every kind, private use, JIS X 0213 pairs (and their parts
# alone), tags, NUL, controls, characters most targets lack, and ASCII runs
# of every length.
python3 "$SRC/bench/make_corpus.py" "$WORK/corpus.txt" 24000 "$SRC/data/samples/sample-sjis.txt" 2>/dev/null
python3 - "$WORK" <<'PY'
import random, sys
work = sys.argv[1]
text = open(work + "/corpus.txt", encoding="utf-8").read()
rnd = random.Random(16)
extras = ["\r", "\n", "\r\n", "\r\r\n", "\n\r", "\u2028", "\u2029", "\r\u2028", "\0", "\x01",
          "\x1b", "\x7f", "\t", "\\", "~", "\u00a5", "\u203e", "\ue000", "\ue0ff", "\ue757",
          "\uf8f0", "\u304b\u309a", "\u304b", "\u309a", "\u00e6\u0300", "\u02e9\u02e5", "\u0300", "\u02e5",
          "\u31f7\u309a", "\u304b\r\n", "\U000e0001\U000e006a\U000e0061", "\U000e007f",
          "\U00020b9f", "\U0001f600", "\u2460", "\u2170", "\u4e02", "\u2252", "\uff5e",
          "\u301c", "\u2015", "\u2014", "\ufffd", "\ufeff", "\u00e9", "\u0391", "\uff71",
          "\uff9f", "\u2603", "\uac00", "\u0e01", "\u00a0"]
# Pair bases and combining marks, paired and alone, so that the bulk path's
# tables come to know each of them by itself before meeting a pair (but
# U+309A, which JIS X 0213 lacks alone: a conversion would stop there).
pairs = ["\u304b\u309a", "\u304b", "\u00e6\u0300", "\u00e6", "\u0300", "\u0301",
         "\u02e9\u02e5", "\u02e9", "\u02e5", "\u30bb\u309a", "\u30bb", "\u31f7\u309a", "\u31f7"]
def mixed(n, extra_rate, choices=extras):
    out, i = [], rnd.randrange(len(text) - 50)
    while sum(map(len, out)) < n:
        r = rnd.random()
        if r < extra_rate:
            out.append(rnd.choice(choices))
        elif r < extra_rate + 0.1:
            out.append("".join(rnd.choice("abcXYZ 0123.,;:-_/()[]{}=+*&%$#@!?") for _ in range(rnd.randrange(1, 40))))
        else:
            k = rnd.randrange(1, 40)
            out.append(text[i:i + k])
            i = (i + k) % (len(text) - 40)
    return "".join(out)
CODECS = {"sjis": "shift_jis", "w31j": "cp932", "euc": "euc_jp", "utf8": "utf-8",
          "u16": "utf-16-le", "u16be": "utf-16-be", "sj04": "shift_jis_2004",
          "ej04": "euc_jis_2004", "iso": "iso2022_jp", "iso04": "iso2022_jp_2004"}
BAD = [b"\x80", b"\xff", b"\xfe", b"\xa0", b"\x8e", b"\x8f", b"\xfd", b"\xed\xa0\x80",
       b"\xc0\xaf", b"\xe3\x81", b"\x1b$B", b"\x1b(J", b"\x1b$@!", b"\x1b(I", b"\x1b$(Q",
       b"\x00\xd8", b"\xdc", b"\r", b"\n"]
def encode(s, codec):
    if codec.startswith("iso2022"):
        return "".join(ch for ch in s if ch.encode(codec, "ignore")).encode(codec)
    return b"".join(ch.encode(codec, "ignore") for ch in s)
texts = {"corpus": text[:6000], "mix": mixed(3000, 0.08), "nl": mixed(1500, 0.35),
         "ascii": mixed(3000, 0.01), "pairs": mixed(3000, 0.6, pairs)}
for name, codec in CODECS.items():
    for tag, t in texts.items():
        open("%s/%s.%s" % (work, tag, name), "wb").write(encode(t, codec))
    data = bytearray(encode(mixed(1500, 0.08), codec))
    for _ in range(40):
        at = rnd.randrange(len(data))
        data[at:at] = rnd.choice(BAD)
    open("%s/bad.%s" % (work, name), "wb").write(bytes(data))
PY

# One process for each text and target: the bulk path keeps a memo for each
# combination of source, target and options, and a process holds at most 32
# of them (more go the general way), so a single process would compare
# the bulk path only in its first few dozen combinations.
LIST=$WORK/list
runs=0 calls=0 diffs=0
for pair in Shift_JIS:sjis WINDOWS31J:w31j EUC-JP:euc UTF-8:utf8 UTF-16:u16 UTF-16:b:u16be \
            Shift_JIS-2004:sj04 EUC-JIS-2004:ej04 ISO-2022-JP:iso ISO-2022-JP-2004:iso04; do
  name=${pair%:*}
  ext=${pair##*:}
  for tag in corpus mix nl ascii pairs bad; do
    [ -n "$QUICK" ] && [ "$tag" = corpus ] && continue
    for to in UTF-8 UTF-16 Shift_JIS WINDOWS31J EUC-JP ISO-2022-JP Shift_JIS-2004 EUC-JIS-2004 \
              ISO-2022-JP-2004 ISO-10646-UCS-2 ISO-10646-UCS-4 EUC-JP-FIX UTF-8-TAGS; do
      echo "$name $WORK/$tag.$ext $to" >"$LIST"
      "$WORK/zk_diffcheck" "$BASE/libzrkvt16.so" "$BASE/base2/" "$NEW/libzrkvt16.so" "$NEW/base2/" \
        "$LIST" $QUICK >"$WORK/out" 2>/dev/null || true
      grep '^DIFF' -A3 "$WORK/out" || true
      set -- $(sed -n 's/^runs=\([0-9]*\) calls=\([0-9]*\) differences=\([0-9]*\)$/\1 \2 \3/p' "$WORK/out")
      [ $# -eq 3 ] || { echo "zk_diffcheck failed on $name $tag.$ext to $to" >&2; exit 2; }
      runs=$((runs + $1)) calls=$((calls + $2)) diffs=$((diffs + $3))
    done
    echo "$name $tag.$ext: runs=$runs calls=$calls differences=$diffs" >&2
  done
done
echo "runs=$runs calls=$calls differences=$diffs"
[ "$diffs" -eq 0 ]
