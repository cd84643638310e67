import codecs
import io
import os
import struct

import pytest

import zrkvt16.codecs  # noqa: F401  (registers the codecs)
from conftest import JA, ROOT, cuts, pieces

# Reference vectors, written from Python's codecs; ours go by the same names.
REF = sorted(f[:-4] for f in os.listdir(os.path.join(ROOT, "tests", "data", "ref")))
# Where the shipped data maps a code differently (README, "Mapping conventions").
DECODE_CONVENTIONS = {
    "cp932": "8160:301C 8161:2016 817C:2212 8191:A2 8192:A3 81CA:AC",
    "shift_jis_2004": "5C:5C 7E:7E 815F:FF3C 81B0:FF5E", "euc_kr": "A4D4:3164",
    "iso2022_jp_2004": "1B2428512232:FF5E", "iso2022_jp": "1B284A5C:5C 1B284A7E:7E"}
ASCII_WRITTEN = {("shift_jis_2004", "\\"), ("shift_jis_2004", "~")}


def reference(codec):
    dec, enc = [], []
    with open(os.path.join(ROOT, "tests", "data", "ref", codec + ".txt")) as f:
        for kind, *rest in (line.split() for line in f):
            if kind in ("D", "E"):
                data, cps = rest[:2] if kind == "D" else rest[1::-1]
                text = "".join(chr(int(u, 16)) for u in cps.split(","))
                if kind == "D" and "\n" not in text:
                    dec.append((bytes.fromhex(data), text))
                if (kind == "E" or rest[-1] == "R") and "\n" not in text:
                    enc.append((bytes.fromhex(data), text))
    return dec, enc


def batched(items, sep, out_sep, fn, size=512):
    """fn over batches joined by sep, split at out_sep (or item by item)."""
    for i in range(0, len(items), size):
        part = items[i:i + size]
        got = fn(sep.join(part)).split(out_sep)
        yield from zip(part, got) if len(got) == len(part) else ((x, fn(x)) for x in part)


@pytest.mark.parametrize("codec", REF)
def test_codecs_agree_with_python_where_both_map(codec):
    name = "zrkvt16-" + {"cp932": "windows31j", "latin-1": "iso-8859-1"}.get(codec, codec)
    dec, enc = reference(codec)
    want, checked = dict(dec), 0
    want.update((bytes.fromhex(code), chr(int(u, 16))) for code, u in
                (r.split(":") for r in DECODE_CONVENTIONS.get(codec, "").split()))
    sep = b"\x1b(B\n" if codec.startswith("iso2022") else b"\n"
    for data, got in batched(list(want), sep, "\n", lambda b: b.decode(name, "replace")):
        if got != want[data]:
            try:  # a code only one side maps is no disagreement
                got = data.decode(name)
            except UnicodeDecodeError:
                continue
        assert got == want[data], data.hex()
        checked += 1
    assert checked > 0.5 * len(dec)
    checked, want = 0, dict((t, d) for d, t in enc)
    for text, got in batched(list(want), "\n", b"\n", lambda t: t.encode(name, "replace")):
        if got != want[text] and got.decode(codec, "replace") != text:
            try:  # the same bytes, or others that Python reads as the same text
                got = text.encode(name)
            except UnicodeEncodeError:
                continue
            back = got.decode(codec, "replace")
            assert back == text or (codec, text) in ASCII_WRITTEN, (text, got)
        checked += 1
    assert checked > 0.4 * len(enc)  # EUC-KR: the eight-byte Hangul forms are not mapped


@pytest.mark.parametrize("name,text", [("iso-2022-jp", JA), ("euc-jp-fix", JA),
                                       ("utf-16", "𠮷" + JA), ("windows31j", JA)])
def test_incremental_codecs_any_split(name, text):
    name, text = "zrkvt16-" + name, text * 20
    data = text.encode(name)
    assert data.decode(name) == text
    for cut in cuts(len(data), 20):
        dec = codecs.getincrementaldecoder(name)()
        assert "".join(dec.decode(p) for p in pieces(data, cut)) + dec.decode(b"", True) == text
    for cut in cuts(len(text), 20):
        enc = codecs.getincrementalencoder(name)()
        assert b"".join(enc.encode(p) for p in pieces(text, cut)) + enc.encode("", True) == data


def ill_formed():
    """Each kind of defect inside text and at its end."""
    for d in (b"\x80", b"\xc0\xaf", b"\xc3", b"\xe3\x81", b"\xe0\x9f\x80", b"\xed\xa0\x80",
              b"\xf0\x80", b"\xf4\x90\x80\x80", b"\xf5", b"\xfe", b"\xff", b"\xf0\x9f\x98"):
        yield "utf-8", b"ab" + d + b"c\xe3\x81\x82", b"ab" + d
    for order, form, fmt, defects in [
            (o, f, fm, d) for o in "<>" for f, fm, d in (
                ("utf-16", "H", ([0xD800], [0xDC00], [0xDC00, 0xD800], [0xD800, 0x41],
                                 [0xDBFF, 0xD800, 0xDC00])),
                ("utf-32", "I", ([0x110000], [0xD800], [0xDFFF, 0x7FFFFFFF])))]:
        for d in defects:
            units = lambda v: b"".join(struct.pack(order + fmt, x) for x in v)  # noqa: E731
            yield form + ("-le" if order == "<" else "-be"), units([65] + d + [66]), units([65] + d)


def run(name, data, cut, errors):
    dec, out, done = codecs.getincrementaldecoder(name)(errors), [], 0
    for piece, final in ((data[:cut], False), (data[cut:], True)):
        try:
            out.append(dec.decode(piece, final))
        except UnicodeDecodeError as e:
            held = len(e.object) - len(piece)
            return done - held + e.start, e.end - e.start, e.reason
        done += len(piece)
    return "".join(out)


@pytest.mark.parametrize("name,data,tail", list(ill_formed()))
def test_ill_formed_input_as_python_reports_it(name, data, tail):
    for sample in (data, tail, tail[:-1]):  # in the text, at its end, cut short there
        for cut in range(len(sample) + 1):
            for errors in ("strict", "replace", "ignore"):
                assert run("zrkvt16-" + name, sample, cut, errors) == \
                    run(name, sample, cut, errors), (sample, cut, errors)


def test_encoding_errors_and_streams(tmp_path):
    with pytest.raises(UnicodeEncodeError) as e:
        "ab☃c".encode("zrkvt16-sjis")
    assert (e.value.start, e.value.end, e.value.encoding) == (2, 3, "zrkvt16-shift_jis")
    with pytest.raises(UnicodeEncodeError) as e:
        "a\ud800b".encode("zrkvt16-sjis")
    assert (e.value.start, e.value.end) == (1, 2)
    assert "a\ud800b".encode("zrkvt16-sjis", "replace") == b"a?b"
    assert "a☃b".encode("zrkvt16-sjis", "ignore") == b"ab"
    with pytest.raises(LookupError):
        codecs.lookup("zrkvt16-nope")
    with pytest.raises(LookupError):
        b"a".decode("zrkvt16-sjis", "surrogateescape")
    path, text = tmp_path / "t.txt", JA * 500
    for name in ("zrkvt16-shift_jis-2004", "zrkvt16-iso-2022-jp"):
        with open(path, "w", encoding=name, newline="") as f:
            f.write(text)
        assert path.read_bytes() == text.encode(name)
        with open(path, encoding=name, newline="") as f:
            first = f.read(3)  # inside a run of kanji: the shift state is in the position
            mark = f.tell()
            rest = f.read()
            f.seek(mark)
            assert f.read() == rest
            assert first + rest == text
    stream = io.BytesIO()
    writer = codecs.getwriter("zrkvt16-iso-2022-jp")(stream)
    writer.write(JA)
    writer.reset()
    assert stream.getvalue() == JA.encode("zrkvt16-iso-2022-jp")
    stream.seek(0)
    assert codecs.getreader("zrkvt16-iso-2022-jp")(stream).read() == JA
