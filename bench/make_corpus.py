#!/usr/bin/env python3
"""Builds a benchmark corpus from the manpages-ja pages (roff markup
removed), cut to about SIZE bytes of UTF-8. SHAPE chooses the lines:
  kanji  mostly kana and kanji: at least half of each line outside ASCII
         (the default)
  prose  Japanese prose with 20% to 50% ASCII in each line
  ascii  lines of ASCII only
Only lines that every compared encoding (Shift_JIS, Windows-31J, EUC-JP,
ISO-2022-JP) can carry with the same mapping are kept, so all converters see
the same text. Without manpages-ja the bundled sample is used instead.

usage: make_corpus.py OUT SIZE SAMPLE [SHAPE]
"""
import glob
import gzip
import re
import sys

out_path, size, sample = sys.argv[1], int(sys.argv[2]), sys.argv[3]
shape = sys.argv[4] if len(sys.argv) > 4 else "kanji"

ESCAPES = re.compile(r"\\f[BIRP]|\\f\(..|\\[-&/,|^]|\\\(..|\\\*.|\\s[-+]?\d|\\e")


def usable(line):
    try:
        for codec in ("shift_jis", "cp932", "euc_jp", "iso2022_jp"):
            if line.encode(codec).decode(codec) != line:
                return False
        return line.encode("shift_jis") == line.encode("cp932")
    except UnicodeError:
        return False


lines = []
pages = sorted(glob.glob("/usr/share/man/ja/man*/*.gz"))
for page in pages:
    try:
        text = gzip.open(page, "rb").read().decode("utf-8")
    except (OSError, UnicodeError):
        continue
    for raw in text.splitlines():
        if raw.startswith((".", "'")):
            continue
        line = ESCAPES.sub("", raw).strip()
        if not line:
            continue
        wide = sum(1 for c in line if ord(c) > 0x7F)
        narrow = len(line) - wide
        if shape == "kanji":
            keep = wide * 2 >= len(line)  # at least half outside ASCII
        elif shape == "prose":
            keep = 0.2 * len(line) <= narrow <= 0.5 * len(line)
        else:
            keep = wide == 0 and len(line) >= 20
        if not keep or not usable(line):
            continue
        lines.append(line)

source = "manpages-ja (%d pages)" % len(pages)
if not lines:
    text = open(sample, "rb").read().decode("shift_jis")
    lines = text.splitlines()
    source = "the bundled sample"

body = []
total = 0
while total < size:
    for line in lines:
        body.append(line)
        total += len(line.encode("utf-8")) + 1
        if total >= size:
            break
data = ("\n".join(body) + "\n").encode("utf-8")
open(out_path, "wb").write(data)
chars = data.decode("utf-8")
ascii_chars = sum(1 for c in chars if ord(c) < 0x80)
print("corpus: %s, %d bytes UTF-8, %d characters, %.0f%% ASCII"
      % (source, len(data), len(chars), 100.0 * ascii_chars / len(chars)))
