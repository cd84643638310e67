#!/usr/bin/env python3
"""Writes the Japanese sample text of the detection tests.

The text is the Japanese futex(7) page of the JM project (Debian package
manpages-ja, MIT licence, see tests/detect/data/README.md), with the roff
markup taken out. The tests encode it themselves with a peer converter, so
only UTF-8 is committed. Rerun this script rather than editing the output:

    apt-get install manpages-ja
    python3 tools/gen_detect_samples.py
"""
import gzip
import os
import re
import sys

SOURCE = "/usr/share/man/ja/man7/futex.7.gz"
OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "detect",
                      "data", "futex.7.ja.txt")


def roff_to_text(src):
    """Plain text of a man page: requests dropped, headings kept, escapes resolved."""
    lines = []
    for line in src.splitlines():
        if line.startswith(".\\\"") or line.startswith("'\\\""):
            continue
        m = re.match(r"^\.(SH|SS|B|I|BR|IR|IP|TP)\s*(.*)$", line)
        if line.startswith("."):
            if not m or not m.group(2):
                continue
            line = m.group(2).strip('"')
        line = re.sub(r"\\f[BIRP]|\\f\(..|\\f\[[^]]*\]", "", line)
        line = line.replace("\\-", "-").replace("\\&", "").replace("\\(aq", "'")
        line = line.replace("\\,", "").replace("\\/", "").replace("\\%", "").replace("\\e", "\\")
        lines.append(line)
    return "\n".join(lines) + "\n"


def main():
    if not os.path.exists(SOURCE):
        sys.exit(SOURCE + " not found: apt-get install manpages-ja")
    with gzip.open(SOURCE, "rt", encoding="utf-8") as f:
        text = roff_to_text(f.read())
    os.makedirs(os.path.dirname(OUTPUT), exist_ok=True)
    with open(OUTPUT, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    print("wrote %s: %d characters, %d bytes" % (OUTPUT, len(text), len(text.encode("utf-8"))))


if __name__ == "__main__":
    main()
