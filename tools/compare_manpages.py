#!/usr/bin/env python3
"""Converts real Japanese text (Debian's manpages-ja, UTF-8 troff) to and from
every Japanese encoding through the built library and through Python's
codecs, and reports where the two differ.

    apt-get install manpages-ja
    python3 tools/compare_manpages.py <build-dir> [man-dir]

The library uses <build-dir>/libzrkvt16.so and the charset directory of the
source tree (data/base2), copied to a temporary directory. Lines that
Python's codec cannot encode are left out for that encoding and counted.
For every encoding it prints the UTF-8 bytes compared, the bytes written,
and the characters that differ in each direction (to the encoding: both
outputs as Python reads them; from it: Python's bytes as each side reads
them), with the differing pairs (Python's, then the library's). Characters
the library cannot convert are substituted (U+3013 GETA MARK) and counted.
"""

import collections
import gzip
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zkpeer import ConversionError, Library  # noqa: E402

ENCODINGS = [
    ("Shift_JIS", "shift_jis"),
    ("WINDOWS31J", "cp932"),
    ("Shift_JIS-2004", "shift_jis_2004"),
    ("EUC-JP", "euc_jp"),
    ("EUC-JIS-2004", "euc_jis_2004"),
    ("ISO-2022-JP", "iso2022_jp"),
    ("ISO-2022-JP-2004", "iso2022_jp_2004"),
]


def read_pages(man_dir):
    pages = []
    for root, _, files in os.walk(man_dir):
        for f in sorted(files):
            path = os.path.join(root, f)
            opener = gzip.open if f.endswith(".gz") else open
            try:
                with opener(path, "rb") as fh:
                    text = fh.read().decode("utf-8")
            except (OSError, UnicodeDecodeError):
                continue
            pages.append((path, text))
    return pages


def char_diffs(want, got, pairs):
    """Counts differing characters of two texts line by line, noting
    (want, got) pairs."""
    import difflib
    wl, gl = want.split("\n"), got.split("\n")
    if len(wl) != len(gl):
        wl, gl = [want], [got]
    n = 0
    for a, b in zip(wl, gl):
        if a == b:
            continue
        if len(a) == len(b):
            for x, y in zip(a, b):
                if x != y:
                    n += 1
                    pairs[(x, y)] += 1
            continue
        for op, i1, i2, j1, j2 in difflib.SequenceMatcher(None, a, b, autojunk=False).get_opcodes():
            if op != "equal":
                n += max(i2 - i1, j2 - j1)
                pairs[(a[i1:i2], b[j1:j2])] += 1
    return n


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    man_dir = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/man/ja"
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "base2")
    tmp = tempfile.mkdtemp(prefix="zk-manpages-")
    try:
        for f in os.listdir(src):
            if not f.endswith(".cmp"):
                shutil.copy(os.path.join(src, f), tmp)
        lib = Library(build, tmp + "/")
        pages = read_pages(man_dir)
        lines = [ln for _, text in pages for ln in text.splitlines(keepends=True)]
        total = sum(len(ln.encode("utf-8")) for ln in lines)
        print("%d pages, %d lines, %d UTF-8 bytes" % (len(pages), len(lines), total))
        worst = 0
        for name, codec in ENCODINGS:
            ok_lines, skipped, utf8_bytes, out_bytes = [], 0, 0, 0
            for ln in lines:
                try:
                    ln.encode(codec)
                    ok_lines.append(ln)
                except UnicodeEncodeError:
                    skipped += 1
            text = "".join(ok_lines)
            data = text.encode("utf-8")
            utf8_bytes = len(data)
            want = text.encode(codec)
            to_pairs, from_pairs = collections.Counter(), collections.Counter()
            # Unmappable characters are substituted (U+3013 GETA MARK or "?"),
            # so they show up as differences.
            ours = lib.convert(data, "UTF-8", name, substitute=True)
            out_bytes = len(ours)
            same_bytes = ours == want
            # To the encoding: what both outputs mean to Python's decoder, so
            # that equivalent escape sequences do not count.
            to_diff = 0 if same_bytes else char_diffs(
                want.decode(codec), ours.decode(codec, errors="replace"), to_pairs)
            back = lib.convert(want, name, "UTF-8", skip_invalid=True,
                               substitute=True).decode("utf-8")
            # From the encoding: Python's bytes read by both sides.
            from_diff = char_diffs(want.decode(codec), back, from_pairs)
            print("%-17s %9d UTF-8 bytes -> %9d bytes (Python %9d, identical: %s); "
                  "lines Python cannot encode: %d" % (name, utf8_bytes, out_bytes, len(want),
                                                      "yes" if same_bytes else "no", skipped))
            print("%-17s differing characters: to %s %d, from %s %d"
                  % ("", name, to_diff, name, from_diff))
            for label, pairs in (("to", to_pairs), ("from", from_pairs)):
                for (a, b), n in pairs.most_common(12):
                    print("%-17s   %s: %s -> %s x%d" % ("", label, ascii(a), ascii(b), n))
        return worst
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
