#!/usr/bin/env python3
"""How often cconvChkEncode names real Japanese text correctly, beside uchardet and nkf.

Japanese manual pages (Debian's manpages-ja, UTF-8 roff) are stripped to
text, encoded with Python's codecs in each family, cut into consecutive
pieces of 64, 256 and 2048 bytes, and each piece is given to the library
(through ctypes), to libuchardet and to `nkf --guess`. The library's answer
is counted twice: as cconvChkEncode gives it, and as the hosts use it after
zkhConfirmEncoding (libzrkvt16host.so) has checked it against the piece,
which counts as the first bytes of a file (a character cut at its end is no
error; pieces cut anywhere may also start inside one), or as a whole file
with --whole-chars. A piece counts as named correctly when the name is the
family's (with the right byte order where the library reports one); a piece
made only of ASCII bytes also counts as correct when it is named as ASCII
("ISO-646IRV" / "ASCII"), since nothing else can be told.

    apt-get install manpages-ja uchardet nkf
    cmake --build build --target zrkvt16 zrkvt16host
    python3 tools/detect_accuracy.py [--lib build/libzrkvt16.so] [--whole-chars]
"""
import argparse
import ctypes
import glob
import gzip
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_detect_samples import roff_to_text  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


class ChkRecord(ctypes.Structure):
    _fields_ = [
        ("inBuf", ctypes.c_void_p),
        ("inPos", ctypes.c_int32),
        ("inLen", ctypes.c_int32),
        ("encodingName", ctypes.c_char * 260),
        ("xmlDeclared", ctypes.c_uint32),
        ("hasBom", ctypes.c_uint32),
        ("bigEndian", ctypes.c_uint32),
        ("newlineKind", ctypes.c_uint32),
        ("encodingClass", ctypes.c_uint32),
    ]


class Confirmation(ctypes.Structure):
    _fields_ = [
        ("encodingName", ctypes.c_char * 260),
        ("bigEndian", ctypes.c_uint32),
        ("corrected", ctypes.c_uint32),
        ("reason", ctypes.c_uint32),
    ]


# family: (Python codec, names of the library counted correct, bigEndian
# required or None, names of uchardet counted correct, names of nkf counted
# correct)
FAMILIES = [
    ("UTF-8", "utf-8", {"UTF-8"}, None, {"UTF-8"}, {"UTF-8"}),
    ("Shift_JIS", "cp932", {"WINDOWS31J"}, None, {"SHIFT_JIS", "WINDOWS-31J", "CP932"},
     {"Shift_JIS", "CP932"}),
    ("EUC-JP", "euc_jp", {"EUC-JP"}, None, {"EUC-JP"}, {"EUC-JP", "CP51932", "eucJP-ms"}),
    ("ISO-2022-JP", "iso2022_jp", {"ISO-2022-JP"}, None, {"ISO-2022-JP"}, {"ISO-2022-JP"}),
    ("UTF-16LE", "utf-16-le", {"UTF-16"}, 0, {"UTF-16LE"}, {"UTF-16", "UTF-16LE"}),
    ("UTF-16BE", "utf-16-be", {"UTF-16"}, 1, {"UTF-16BE"}, {"UTF-16", "UTF-16BE"}),
    ("UCS-4LE", "utf-32-le", {"ISO-10646-UCS-4"}, 0, {"UTF-32LE"}, {"UTF-32", "UTF-32LE"}),
    ("UCS-4BE", "utf-32-be", {"ISO-10646-UCS-4"}, 1, {"UTF-32BE"}, {"UTF-32", "UTF-32BE"}),
]
SIZES = [64, 256, 2048]


class Library:
    def __init__(self, path, host_path):
        self.lib = ctypes.CDLL(path)
        self.lib.cconvChkEncode.argtypes = [ctypes.POINTER(ChkRecord)]
        self.lib.cconvChkEncode.restype = ctypes.c_int
        self.host = ctypes.CDLL(host_path)
        self.host.zkhConfirmEncoding.argtypes = [
            ctypes.POINTER(ChkRecord), ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int,
            ctypes.POINTER(Confirmation)]
        self.host.zkhConfirmEncoding.restype = ctypes.c_int

    def detect(self, data, whole):
        """The detector's (name, bigEndian), and the confirmed ones."""
        buf = ctypes.create_string_buffer(data, len(data))
        rec = ChkRecord()
        rec.inBuf = ctypes.cast(buf, ctypes.c_void_p)
        rec.inPos = 0
        rec.inLen = len(data)
        self.lib.cconvChkEncode(ctypes.byref(rec))
        conf = Confirmation()
        self.host.zkhConfirmEncoding(ctypes.byref(rec), data, len(data), int(whole),
                                     ctypes.byref(conf))
        return ((rec.encodingName.decode("latin-1"), rec.bigEndian),
                (conf.encodingName.decode("latin-1"), conf.bigEndian))


class Uchardet:
    def __init__(self):
        self.lib = ctypes.CDLL("libuchardet.so.0")
        self.lib.uchardet_new.restype = ctypes.c_void_p
        self.lib.uchardet_handle_data.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
        self.lib.uchardet_data_end.argtypes = [ctypes.c_void_p]
        self.lib.uchardet_reset.argtypes = [ctypes.c_void_p]
        self.lib.uchardet_get_charset.argtypes = [ctypes.c_void_p]
        self.lib.uchardet_get_charset.restype = ctypes.c_char_p
        self.handle = self.lib.uchardet_new()

    def detect(self, data):
        self.lib.uchardet_reset(self.handle)
        self.lib.uchardet_handle_data(self.handle, data, len(data))
        self.lib.uchardet_data_end(self.handle)
        return (self.lib.uchardet_get_charset(self.handle) or b"").decode("ascii").upper()


def nkf_guess(data):
    out = subprocess.run(["nkf", "--guess"], input=data, capture_output=True, check=True).stdout
    return out.decode("ascii", "replace").split(" ")[0].strip() or "(none)"


def top3(counts):
    return ", ".join("%s %d" % kv for kv in sorted(counts.items(), key=lambda kv: -kv[1])[:3])


def ascii_text(data, off, size, codec):
    """Whether the piece is plain ASCII text, which no detector can place."""
    piece = data[off:off + size]
    if any(b >= 0x80 for b in piece):
        return False
    if codec in ("utf-8", "cp932", "euc_jp"):
        return True
    if codec == "iso2022_jp":
        # ASCII only when no escape is inside and the text before it was
        # left in ASCII or Roman mode.
        if b"\x1b" in piece:
            return False
        last = data.rfind(b"\x1b", 0, off)
        return last < 0 or data[last + 1:last + 3] in (b"(B", b"(J")
    return False


def raw_pieces(data, size, codec):
    """Consecutive pieces of exactly `size` bytes, cut anywhere."""
    for off in range(0, len(data) - size + 1, size):
        yield data[off:off + size], ascii_text(data, off, size, codec)


def whole_char_pieces(text, size, codec):
    """Consecutive runs of whole characters, each encoded on its own in at
    most `size` bytes (as a file of that size would be)."""
    i = 0
    while i < len(text):
        lo, hi = i, len(text)
        if len(text[i:].encode(codec, errors="ignore")) > size:
            while hi - lo > 1:  # largest end whose encoding fits
                mid = (lo + hi) // 2
                if len(text[i:mid].encode(codec, errors="ignore")) <= size:
                    lo = mid
                else:
                    hi = mid
        else:
            return  # the tail is shorter than a piece
        data = text[i:lo].encode(codec, errors="ignore")
        if lo == i:
            return
        i = lo
        if len(data) >= size - 8:  # skip stubs that a wide character left short
            yield data, ascii_text(data, 0, len(data), codec)


def corpus(limit_pages):
    pages = sorted(glob.glob("/usr/share/man/ja/man*/*.gz"))
    if not pages:
        sys.exit("no pages under /usr/share/man/ja: apt-get install manpages-ja")
    # Spread the sample over every section rather than the first pages.
    step = max(1, len(pages) // limit_pages)
    texts = []
    for path in pages[::step][:limit_pages]:
        with gzip.open(path, "rt", encoding="utf-8", errors="replace") as f:
            text = roff_to_text(f.read())
        if any(ord(c) > 0x3000 for c in text):
            texts.append(text)
    return texts


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--lib", default=os.path.join(ROOT, "build", "libzrkvt16.so"))
    ap.add_argument("--host-lib", help="libzrkvt16host.so (default: beside --lib)")
    ap.add_argument("--pages", type=int, default=120, help="number of manual pages to read")
    ap.add_argument("--max-pieces", type=int, default=600, help="pieces per family and size")
    ap.add_argument("--whole-chars", action="store_true",
                    help="cut pieces on character boundaries instead of anywhere")
    args = ap.parse_args()

    ours = Library(args.lib, args.host_lib or
                   os.path.join(os.path.dirname(os.path.abspath(args.lib)), "libzrkvt16host.so"))
    theirs = Uchardet()
    texts = corpus(args.pages)
    print("%d pages with Japanese text; pieces of %s bytes, at most %d per row, cut %s\n"
          % (len(texts), ", ".join(map(str, SIZES)), args.max_pieces,
             "on character boundaries" if args.whole_chars else "anywhere"))
    print("| family | piece | pieces | ASCII-only | zrkvt16 correct | zrkvt16 confirmed correct"
          " | uchardet correct | nkf correct | zrkvt16 other names | confirmed other names |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for family, codec, names, big, uc_names, nkf_names in FAMILIES:
        encoded = [] if args.whole_chars else [t.encode(codec, errors="ignore") for t in texts]
        for size in SIZES:
            pieces = []
            sources = texts if args.whole_chars else encoded
            for src in sources:
                cut = whole_char_pieces if args.whole_chars else raw_pieces
                for piece in cut(src, size, codec):
                    pieces.append(piece)
                    if len(pieces) >= args.max_pieces:
                        break
                if len(pieces) >= args.max_pieces:
                    break
            good = {"ours": 0, "confirmed": 0, "uchardet": 0, "nkf": 0}
            ascii_only = 0
            others, confirmed_others = {}, {}
            for p, is_ascii in pieces:
                ascii_only += is_ascii
                for (name, be), key, tally in zip(ours.detect(p, args.whole_chars),
                                                  ("ours", "confirmed"), (others, confirmed_others)):
                    ok = name in names and (big is None or be == big)
                    ok = ok or (is_ascii and name == "ISO-646IRV")
                    good[key] += ok
                    if not ok:
                        k = name + ("" if big is None or name not in names else "/be=%d" % be)
                        tally[k] = tally.get(k, 0) + 1
                uc = theirs.detect(p)
                good["uchardet"] += uc in uc_names or (is_ascii and uc == "ASCII")
                nk = nkf_guess(p)
                good["nkf"] += nk in nkf_names or (is_ascii and nk == "ASCII")
            n = len(pieces) or 1
            print("| %s | %d | %d | %d | %.1f%% | %.1f%% | %.1f%% | %.1f%% | %s | %s |"
                  % (family, size, len(pieces), ascii_only,
                     *(100.0 * good[k] / n for k in ("ours", "confirmed", "uchardet", "nkf")),
                     top3(others), top3(confirmed_others)))

if __name__ == "__main__":
    main()
