import os
import subprocess
import sys

import pytest

import zrkvt16 as z
from conftest import JA, cuts, pieces

SAMPLES = {"GBK": "中文文本\n", "Big5": "中文\n", "EUC-KR": "한국어\n", "ISO-8859-1": "café\n",
           "ISO-646IRV": "plain\n", "ISO-10646-UCS-2": JA}


@pytest.mark.parametrize("name", z.encodings())
def test_round_trip_through_every_encoding(name):
    text = SAMPLES.get(name, JA + ("𠮷" if z.resolve(name).unicode else ""))
    data = z.convert(text.encode(), "UTF-8", name)
    assert z.convert(data, name, "UTF-8") == text.encode()


def test_names_aliases_and_byte_orders():
    assert len(z.encodings()) == 22
    assert z.convert("日".encode(), "utf8", "cp932") == "日".encode("cp932")
    assert z.convert(b"A", "UTF-8", "UTF-16LE") == b"A\0"
    assert z.convert(b"A", "UTF-8", "UTF-16") == b"\0A"  # big-endian unless -LE
    assert z.convert(b"A", "UTF-8", "UTF-32LE", bom=True) == b"\xff\xfe\0\0A\0\0\0"
    assert z.convert(b"\xff\xfeA\0", "UTF-16") == b"A"  # the mark decides
    assert z.convert("中".encode(), "UTF-8", "GBK") == "中".encode("gbk")  # row byte first
    assert z.convert(b"a\r\nb\rc", "UTF-8", "UTF-8", eol="lf") == b"a\nb\nc"


# One row per path: ill-formed Unicode (as a user meets it), invalid, truncated
# and unmappable input, unknown escapes; strict error, then replace, ignore.
ERRORS = [
    (b"caf\xe9 au", "UTF-8", "UTF-8", "ill-formed", 3, b"\xe9", "caf\ufffd au", "caf au"),
    (b"ab\xe3\x81\n", "UTF-8", "EUC-JP", "ill-formed", 2, b"\xe3\x81", "ab?\n", "ab\n"),
    (b"x\xc3\x28y", "UTF-8", "UTF-16LE", "ill-formed", 1, b"\xc3", "x\ufffd(y", "x(y"),
    (b"A\xfe\xffB", "UTF-8", "UTF-8", "ill-formed", 1, b"\xfe", "A\ufffd\ufffdB", "AB"),
    (b"\xfe\xff\xd8\x00\x00A", "UTF-16", "UTF-8", "ill-formed", 2, b"\xd8\x00", "\ufffdA", "A"),
    (b"\x00\x11\x00\x00", "UCS-4BE", "UTF-8", "ill-formed", 0, b"\x00\x11\x00\x00", "\ufffd", ""),
    (b"a\x1b$Xbcd", "ISO-2022-JP", "UTF-8", "escape", 1, b"\x1b$X", "a\ufffd$Xbcd", "a$Xbcd"),
    (b"\x82\xa0\x82", "SJIS", "UTF-8", "incomplete", 2, b"\x82", "あ\ufffd", "あ"),
    (b"a\x81 b", "SJIS", "UTF-8", "invalid", 1, b"\x81 ", "a\ufffd b", "a b"),
    (b"a\x81 b", "GBK", "UTF-8", "invalid", 1, b"\x81 ", "a\ufffdb", "ab"),  # the library's skip
    ("x☃é".encode(), "UTF-8", "SJIS", "unmappable", 1, "☃".encode(), "x〓?", "x"),
]


@pytest.mark.parametrize("data,src,dst,kind,offset,bad,replaced,ignored", ERRORS,
                         ids=range(len(ERRORS)))
def test_errors(data, src, dst, kind, offset, bad, replaced, ignored):
    with pytest.raises(z.ConversionError) as e:
        z.convert(data, src, dst)
    assert (e.value.kind, e.value.offset, e.value.bytes) == (kind, offset, bad)
    assert "byte offset %d" % offset in str(e.value)
    assert e.value.output == z.convert(data[:offset], src, dst)
    for errors, want in (("replace", replaced), ("ignore", ignored)):
        got = z.convert(data, src, dst, errors=errors)
        assert got == z.convert(want.encode(), "UTF-8", dst, errors="replace")


@pytest.mark.parametrize("kwargs,error", [
    ({"from_": "NOPE"}, z.UnknownEncodingError), ({"to": "x" * 300}, LookupError),
    ({"errors": "surrogateescape"}, ValueError), ({"eol": "lfcr"}, ValueError),
    ({"to": "SJIS", "bom": True}, ValueError)])
def test_usage_errors(kwargs, error):
    with pytest.raises(error):
        z.Converter(**{"from_": "UTF-8", "to": "UTF-8", **kwargs})


def test_a_failed_converter_stays_failed():
    c = z.Converter("UTF-8", "SJIS")
    with pytest.raises(z.ConversionError):
        c.feed("☃".encode())
    with pytest.raises(ValueError, match="failed"):
        c.feed(b"a")


def test_missing_library_is_a_clear_error_at_import():
    env = dict(os.environ, ZRKVT16_LIBRARY="/nonexistent/libzrkvt16.so")
    r = subprocess.run([sys.executable, "-c", "import zrkvt16"], env=env, capture_output=True,
                       text=True, cwd=os.path.dirname(os.path.dirname(z.__file__)))
    assert r.returncode != 0 and "ImportError: zrkvt16: cannot load" in r.stderr


SPLIT_CASES = [  # (input, Converter arguments)
    (JA.encode("cp932") * 40, ("SJIS", "UTF-8")),
    (JA.encode("iso2022_jp") * 40, ("ISO-2022-JP", "UTF-16")),
    (JA.encode() * 40, ("UTF-8", "EUC-JP", "strict", "lf")),
    (b"\xff\xfe" + JA.encode("utf-16-le") * 40, ("UTF-16", "SJIS")),
    (JA.encode("utf-16-be") + b"\xdc\x00\xd8\x00" * 9 + b"A", ("UTF-16BE", "UTF-8", "replace")),
    (b"a\xe3\x81\xc3\x28\xf4\x90\x80\x80\xed\xa0\x80\xe3" * 30, ("UTF-8", "UTF-16LE", "replace")),
    (b"a\x82\x20\x1b$X\xa1" * 30, ("SJIS", "UTF-8", "ignore")),
    (JA.encode("euc_jp") * 40, (None, "UTF-8")),
]


@pytest.mark.parametrize("data,args", SPLIT_CASES, ids=range(len(SPLIT_CASES)))
def test_any_split_gives_the_same_bytes(data, args):
    whole = z.convert(data, *args)
    for cut in cuts(len(data)):
        c = z.Converter(*args)
        assert b"".join(c.feed(p) for p in pieces(data, cut)) + c.finish() == whole, cut


@pytest.mark.parametrize("data,encoding,eol,corrected", [
    (JA.encode(), "UTF-8", "crlf", False),
    (JA.replace("\r", "").encode("cp932"), "WINDOWS31J", "lf", False),
    (JA.encode("euc_jp"), "EUC-JP", "crlf", False),
    (JA.encode("iso2022_jp"), "ISO-2022-JP", "crlf", False),
    (b"\xef\xbb\xbf" + JA.encode(), "UTF-8", "crlf", False),
    # The detector sees only ASCII; no line end in its first 2048 bytes.
    (b"abc " * 1100 + JA.encode(), "UTF-8", None, True),
    (b"\xff\xfeA\0\n\0B\0", "UTF-16", "lf", False),
    (b"\0\0\xfe\xff\0\0\0A\0\0\0\n\0\0\0B", "ISO-10646-UCS-4", "lf", False),
], ids=range(8))
def test_detect(data, encoding, eol, corrected):
    d = z.detect(data)
    assert (d.encoding, d.eol, d.corrected) == (encoding, eol, corrected)
    marks = (b"\xef\xbb\xbf", b"\xff\xfe", b"\0\0\xfe\xff")
    assert (d.bom, d.big_endian) == (data.startswith(marks), not data.startswith(b"\xff"))
    assert z.convert(data) == z.convert(data, d.encoding)
    assert z.detect(b"") is None
