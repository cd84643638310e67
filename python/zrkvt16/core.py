"""Conversion, detection and encoding names over libzrkvt16.

The library's Unicode decoders are lenient (they take ill-formed input and
pass it on as values); a Converter checks UTF-8, UTF-16, UCS-2 and UCS-4
input with the host validator before the bytes reach cconvConvert, so the
output is always well-formed and errors fall where Python's codecs put them.
"""

import collections
import ctypes
import os
import re

from . import _native as N

DETECT_BYTES = 4096       # what the detector is shown, as kvtconv does
CONFIRM_BYTES = 1 << 20   # what its answer is checked against

# ---------------------------------------------------------------------------
# Names: the aliases and byte orders of kvtconv.

BYTES, LEGACY, UNICODE, LITTLE, BIG = range(5)


def _key(name):
    return re.sub(r"[-_ .:]", "", name).upper()


_ALIASES = {}
for _names, _lib, _order in [
        ("SHIFTJIS SJIS MSKANJI CSSHIFTJIS XSJIS", "Shift_JIS", LEGACY),
        ("WINDOWS31J CP932 MS932 WINDOWS932 IBM943 CSWINDOWS31J SJISWIN", "WINDOWS31J", LEGACY),
        ("SHIFTJIS2004 SJIS2004 SHIFTJISX0213 SJISX0213", "Shift_JIS-2004", LEGACY),
        ("EUCJP UJIS XEUCJP CSEUCPKDFMTJAPANESE", "EUC-JP", LEGACY),
        ("EUCJPFIX", "EUC-JP-FIX", LEGACY),
        ("EUCJIS2004 EUCJISX0213", "EUC-JIS-2004", LEGACY),
        ("ISO2022JP JIS JIS7 CSISO2022JP", "ISO-2022-JP", LEGACY),
        ("ISO2022JP2004 ISO2022JP3", "ISO-2022-JP-2004", LEGACY),
        ("UCS2 ISO10646UCS2 CSUNICODE", "ISO-10646-UCS-2", UNICODE),
        ("UCS4 UTF32 ISO10646UCS4 CSUCS4", "ISO-10646-UCS-4", UNICODE),
        ("UTF16", "UTF-16", UNICODE),
        ("UTF16TAGS", "UTF-16-TAGS", UNICODE),
        ("UCS4TAGS UTF32TAGS ISO10646UCS4TAGS", "ISO-10646-UCS-4-TAGS", UNICODE),
        ("UTF8", "UTF-8", BYTES),
        ("UTF8TAGS", "UTF-8-TAGS", BYTES),
        ("OASYSWIN", "OASYS_WIN", LEGACY),
        ("OASYSONLINE", "OASYS_ONLINE", LEGACY),
        ("ISO88591 LATIN1 L1 CP819 IBM819 ISOIR100", "ISO-8859-1", BYTES),
        ("ISO646IRV ISO646US ASCII USASCII ANSIX341968", "ISO-646IRV", BYTES),
        ("GBK CP936 MS936 WINDOWS936", "GBK", LEGACY),
        ("BIG5 CSBIG5", "Big5", LEGACY),
        ("EUCKR CSEUCKR", "EUC-KR", LEGACY)]:
    for _k in _names.split():
        _ALIASES[_k] = (_lib, _order)
        if _order == UNICODE:  # a -LE or -BE suffix fixes the byte order
            _ALIASES[_k + "LE"] = (_lib, LITTLE)
            _ALIASES[_k + "BE"] = (_lib, BIG)

# Which library names the validator checks, and in which form.
_FORMS = {"UTF8": N.UTF8, "UTF8TAGS": N.UTF8, "UTF16": N.UTF16, "UTF16TAGS": N.UTF16,
          "ISO10646UCS2": N.UCS2, "ISO10646UCS4": N.UCS4, "ISO10646UCS4TAGS": N.UCS4}


class Encoding:
    """An encoding as the library knows it, with the byte order to use."""

    def __init__(self, name, order=LEGACY, big=True, detect_bom=True):
        self.name, self.order, self.big = name, order, big
        self.form = _FORMS.get(_key(name), 0)
        self.detect_bom = detect_bom  # Unicode input looks for a byte order mark
        self.unicode = order in (UNICODE, LITTLE, BIG) or self.form != 0

    def __repr__(self):
        return "Encoding(%r, %s)" % (self.name, ("bytes", "legacy", "unicode", "little-endian",
                                                 "big-endian")[self.order])

    def source_options(self, skip):
        o = N.SrcOptions(skipInvalid=int(skip))
        if self.order == BYTES:  # a UTF-8 mark is stepped over rather than kept
            o.inDetectBom = int(self.form == N.UTF8 and self.detect_bom)
        elif self.order in (LEGACY, BIG):
            o.inBigEndian = 1
        elif self.order == UNICODE:
            o.inBigEndian, o.inDetectBom = int(self.big), int(self.detect_bom)
        return o


def resolve(name):
    """The library's name and byte order for a user's name (any case, with
    the usual aliases); other names pass through and the library decides."""
    if isinstance(name, Encoding):
        return name
    if not isinstance(name, str):
        raise TypeError("an encoding name must be a str")
    lib, order = _ALIASES.get(_key(name), (name, LEGACY))
    return Encoding(lib, order)


def _cname(enc):
    try:
        b = enc.name.encode("ascii")
    except UnicodeEncodeError:
        raise UnknownEncodingError(enc.name) from None
    if len(b) >= N.TEXT or b"\0" in b:
        raise UnknownEncodingError(enc.name)
    return b


# ---------------------------------------------------------------------------
# Errors


class ConversionError(ValueError):
    """Input that cannot be converted. `offset` is the byte offset of the
    offending bytes in the whole input, `bytes` those bytes, `reason` a short
    phrase, `kind` one of 'ill-formed', 'invalid', 'unmappable',
    'incomplete', 'escape', 'undetected'; `output` what was converted before
    the error in the failing call."""

    def __init__(self, message, offset=None, data=b"", reason="", kind="", char=None):
        super().__init__(message)
        self.offset, self.bytes, self.reason, self.kind, self.char = (offset, data, reason,
                                                                      kind, char)
        self.output = b""


class UnknownEncodingError(ConversionError, LookupError):
    def __init__(self, name):
        super().__init__("unknown encoding %r" % (name,), kind="name")
        self.name = name


def _hex(data):
    return " ".join("%02X" % b for b in data)


_FORM_NAMES = {N.UTF8: "UTF-8", N.UTF16: "UTF-16", N.UCS2: "UCS-2", N.UCS4: "UCS-4"}


def _issue_reason(form, kind, bad, big):
    """The phrases of Python's own decoders, so codec errors read the same."""
    if kind == N.BAD_BYTE:
        return "invalid start byte"
    if kind == N.BAD_SEQUENCE:
        return "invalid continuation byte"
    if kind == N.OUT_OF_RANGE:
        return "code point not in range(0x110000)"
    if kind == N.SURROGATE and form == N.UCS4:
        return "code point in surrogate code point range(0xd800, 0xe000)"
    if kind == N.SURROGATE:
        low = (bad[0] if big else bad[1]) >= 0xDC
        return "illegal encoding" if low else "illegal UTF-16 surrogate"
    if form == N.UTF8 or (form != N.UCS4 and len(bad) > 1):
        return "unexpected end of data"
    return "truncated data"


# ---------------------------------------------------------------------------
# Conversion


class Converter:
    """A conversion carried across any number of feed() calls; any split of
    the input gives the same output. from_=None detects the encoding from the
    first megabyte (or the whole input, if shorter); `detected` then holds
    the Detection. errors: 'strict' raises ConversionError, 'replace' writes
    the library's substitute (U+FFFD for Unicode targets) in place of
    ill-formed, invalid, truncated or unmappable input, 'ignore' drops it.
    eol: None, 'lf', 'crlf', 'cr', 'u2028' or 'u2029'. After an error the
    Converter cannot be used again."""

    def __init__(self, from_=None, to="UTF-8", errors="strict", eol=None, bom=False, lang=None):
        if errors not in ("strict", "replace", "ignore"):
            raise ValueError("errors must be 'strict', 'replace' or 'ignore', not %r" % (errors,))
        self.errors = errors
        self.target = resolve(to)
        if bom and not self.target.unicode:
            raise ValueError("bom=True needs a Unicode target (UTF-8, UTF-16, UCS-2, UCS-4)")
        dst = N.DstOptions(outBigEndian=int(self.target.order != LITTLE), outWriteBom=int(bom),
                           substitute=int(errors == "replace"),
                           replacement=0xFFFDFFFD if self.target.unicode else 0)
        if eol is not None:
            kinds = {"lf": 3, "crlf": 1, "cr": 2, "u2028": 4, "u2029": 5}
            if eol not in kinds:
                raise ValueError("eol must be one of %s, not %r" % (", ".join(kinds), eol))
            dst.newlineConvert, dst.newlineKind = 1, kinds[eol]
        if lang:
            if len(lang.encode("ascii")) >= N.TEXT:
                raise ValueError("language tag too long")
            dst.lang = lang.encode("ascii")
        self._rec = N.Record()
        if N.lib.cconvInitConvert(ctypes.byref(self._rec), ctypes.byref(dst),
                                  _cname(self.target)) != N.OK:
            raise UnknownEncodingError(to)
        self._obuf = self._scratch = None
        self.source, self.detected, self._v = None, None, None
        self._held, self._base = b"", 0   # input the library has not taken, and its offset
        self._sniff, self._sniffed = [], 0
        self._state = "open"
        if from_ is not None:
            self._set_source(resolve(from_))

    def _set_source(self, enc):
        opts = enc.source_options(self.errors == "ignore")
        if N.lib.cconvChgCharset(ctypes.byref(self._rec), ctypes.byref(opts),
                                 _cname(enc)) != N.OK:
            raise UnknownEncodingError(enc.name)
        self.source = enc
        self._iso2022 = _key(enc.name).startswith("ISO2022")
        if enc.form:
            self._v = N.Validator()
            N.host.zkhValidatorInit(ctypes.byref(self._v), enc.form, opts.inBigEndian,
                                    opts.inDetectBom)

    # -- public calls

    def feed(self, data):
        """Converts the next piece of input; returns the output it completes."""
        return self._guarded(self._feed_or_sniff, bytes(data))

    def finish(self):
        """Ends the input: reports (or replaces, or drops) a truncated
        character at the end and closes the output."""
        out = self._guarded(self._finish)
        self._state = "finished"
        return out

    def _guarded(self, fn, *args):
        if self._state != "open":
            raise ValueError("this Converter has %s" % ("failed" if self._state == "failed"
                                                        else "finished"))
        out = []
        try:
            fn(out, *args)
        except ConversionError as e:
            self._state = "failed"
            e.output = b"".join(out)
            raise
        return b"".join(out)

    def _feed_or_sniff(self, out, data):
        if self.source is None:
            self._sniff.append(data)
            self._sniffed += len(data)
            if self._sniffed < CONFIRM_BYTES:
                return
            data = self._start_detected(whole=False)
        self._feed(data, out)

    def _start_detected(self, whole):
        data, self._sniff = b"".join(self._sniff), []
        d = _detect(data, whole)
        if d is None:
            raise ConversionError("cannot detect the encoding", None, b"",
                                  "undetectable encoding", "undetected")
        self.detected = d
        enc = resolve(d.encoding)
        enc.big = d.big_endian
        self._set_source(enc)
        return data

    def _finish(self, out):
        if self.source is None:
            if not self._sniffed:
                return self._term(out)
            self._feed(self._start_detected(whole=True), out)
        if self._v is not None:
            issue = N.Issue()
            if N.host.zkhValidateEnd(ctypes.byref(self._v), ctypes.byref(issue)) == 1:
                self._convert(issue.offset, out, at_end=True)
                self._ill_formed(issue, out)
        self._convert(self._base + len(self._held), out, at_end=True)
        self._term(out)

    # -- the input side: validation, then the library

    def _feed(self, data, out):
        v = self._v
        if v is None:
            self._held += data
            return self._convert(self._base + len(self._held), out)
        addr, pos, used, issue = N.address(data), 0, ctypes.c_size_t(), N.Issue()
        while True:
            r = N.host.zkhValidate(ctypes.byref(v), addr + pos, len(data) - pos,
                                   ctypes.byref(used), ctypes.byref(issue))
            end = pos + used.value
            self._held += data[pos:end]
            if r != 1:
                # Only complete, checked characters reach the library.
                return self._convert(v.complete, out)
            self._convert(issue.offset, out, at_end=True)
            self._ill_formed(issue, out)
            pos = end

    def _ill_formed(self, issue, out):
        form = self.source.form
        bad = bytes(issue.bytes[:issue.length])
        reason = _issue_reason(form, issue.kind, bad, self._v.bigEndian)
        self._bad(out, len(bad), "invalid %s at byte offset %d: %s (%s)"
                  % (_FORM_NAMES[form], issue.offset, _hex(bad), reason), bad, reason, "ill-formed")
        # A byte order mark belongs at the start only.
        self._rec.srcOptions.inDetectBom = 0

    def _convert(self, end, out, at_end=False):
        """Converts the held input up to stream offset `end`. at_end: no more
        input follows that part, so whatever the library leaves is an error."""
        while self._base < end:
            chunk = self._held[:end - self._base]
            used = self._run(chunk, out)
            self._held, self._base = self._held[used:], self._base + used
            if self._base < end and not self._stuck(chunk[used:], at_end, out):
                return

    def _stuck(self, rest, at_end, out):
        """The library waits for more input before `rest`; returns whether
        something was done about it."""
        if self._iso2022 and rest[:1] == b"\x1b":
            n = N.host.zkhUnknownEscape(N.address(rest), len(rest))
            if n > 0:  # not a truncated sequence: one the library does not know
                bad = rest[:n]
                self._bad(out, 1, "unknown escape sequence at byte offset %d: %s"
                          % (self._base, _hex(bad)), bad, "unknown escape sequence", "escape")
                return True
        if not at_end:
            return False
        if self._rec.srcOptions.inDetectBom:  # too short to hold a mark: read it without
            self._rec.srcOptions.inDetectBom = 0
            return True
        self._bad(out, len(rest), "incomplete character at end of input, byte offset %d: %s"
                  % (self._base, _hex(rest[:4])), rest, "incomplete multibyte sequence",
                  "incomplete")
        return True

    def _bad(self, out, drop, message, bad, reason, kind):
        """Bytes at the start of the held input that cannot be converted."""
        if self.errors == "strict":
            raise ConversionError(message, self._base, bad, reason, kind)
        self._held, self._base = self._held[drop:], self._base + drop
        if self.errors == "replace":
            self._place_substitute()
            self._run(b"", out)

    def _place_substitute(self):
        # As the driver does for an unmappable character: the substitute is
        # placed in the record and the next call writes it.
        rec = self._rec
        sub = rec.subNarrow if (rec.subNarrow.unit or rec.subNarrow.code) else rec.subWide
        if not (sub.unit or sub.code):
            return
        rec.outCharset, rec.outCharsetType = sub.charset, sub.type
        rec.outCode, rec.outUnit, rec.outSeqLen = sub.code, sub.unit, 0
        rec.ucs2 = rec.rawCode = 0
        rec.status = N.OUTPUT_FULL

    def _run(self, chunk, out):
        """cconvConvert over chunk until it stops; returns the bytes used.
        CCONV_OK does not mean all of them: inPos says."""
        rec, strict = self._rec, self.errors == "strict"
        self._room(4 * len(chunk) + 4096)
        rec.inBuf, rec.inPos, rec.inLen = N.address(chunk), 0, len(chunk)
        rec.outBuf, rec.outPos, rec.outSize = self._oaddr, 0, self._osize
        try:
            while True:
                before = rec.inPos
                snap = N.Record.from_buffer_copy(rec) if strict else None
                st = N.lib.cconvConvert(ctypes.byref(rec))
                if st == N.OK and before < rec.inPos < rec.inLen:
                    continue
                if st in (N.OK, N.NEED_INPUT):
                    return rec.inPos
                if st == N.OUTPUT_FULL and rec.outPos:
                    self._flush(out)
                    continue
                if strict and st in (N.INVALID, N.UNMAPPABLE):
                    raise self._located(st, snap, chunk)
                if st == N.INVALID:  # replace (ignore has the library skip it)
                    self._step_over()
                    self._place_substitute()
                elif st != N.UNMAPPABLE:  # unmappable: substituted or dropped already
                    raise ConversionError("conversion failed at byte offset %d (status %d)"
                                          % (self._base + rec.inPos, st), self._base + rec.inPos)
        finally:
            self._flush(out)

    def _room(self, size):
        # One buffer per Converter, grown to fit what a piece of input
        # usually becomes, so the output is copied out once.
        size = min(size, 1 << 26)
        if self._obuf is None or len(self._obuf) < size:
            self._obuf = ctypes.create_string_buffer(size)
            self._oaddr, self._osize = ctypes.addressof(self._obuf), size

    def _flush(self, out):
        if self._rec.outPos:
            out.append(ctypes.string_at(self._oaddr, self._rec.outPos))
            self._rec.outPos = 0

    def _step_over(self):
        """Some decoders leave inPos on the invalid bytes; move past them as
        the library's own skip would."""
        rec = self._rec
        probe = self._copy(rec, rec.inLen, room=0)
        if N.lib.cconvConvert(ctypes.byref(probe)) != N.INVALID or probe.inPos != rec.inPos:
            return
        for k in range(1, 5):
            p = self._copy(rec, min(rec.inPos + k, rec.inLen), room=0)
            p.srcOptions.skipInvalid = 1
            if (N.lib.cconvConvert(ctypes.byref(p)) == N.OK and p.inPos == p.inLen
                    and p.inChars == rec.inChars):
                break
        else:
            k = 1
        rec.inPos = min(rec.inPos + k, rec.inLen)

    def _copy(self, rec, length, room=4096):
        if self._scratch is None:
            self._scratch = ctypes.create_string_buffer(4096)
        r = N.Record.from_buffer_copy(rec)
        r.inLen, r.outBuf, r.outPos, r.outSize = length, ctypes.addressof(self._scratch), 0, room
        return r

    def _replay(self, snap, length):
        r = self._copy(snap, length)
        while True:
            r.outPos = 0
            st = N.lib.cconvConvert(ctypes.byref(r))
            if st != N.OUTPUT_FULL or r.outPos == 0:
                return st, r

    def _located(self, failed, snap, chunk):
        """The error for the character that stopped a strict conversion. The
        driver reports where it stopped, which for some decoders is past the
        bad bytes; the record holds all conversion state, so the call is
        replayed on shorter input: the shortest input that fails the same way
        ends with the character, and one byte less stops at its start."""
        rec = self._rec
        lo, hi = snap.inPos, rec.inLen
        start, end = rec.inPos, min(rec.inLen, rec.inPos + 4)
        if lo < hi:
            while lo + 1 < hi:
                mid = (lo + hi) // 2
                if self._replay(snap, mid)[0] == failed:
                    hi = mid
                else:
                    lo = mid
            st, r = self._replay(snap, hi - 1)
            if st != failed and snap.inPos <= r.inPos <= hi - 1:
                start, end = r.inPos, hi
        offset, bad = self._base + start, chunk[start:end]
        if failed == N.INVALID:
            return ConversionError("invalid input at byte offset %d: %s" % (offset, _hex(bad)),
                                   offset, bad, "invalid input", "invalid")
        what = "U+%04X" % rec.ucs if rec.ucs else "code 0x%X" % rec.code
        return ConversionError("cannot convert %s at byte offset %d (%s) to %s"
                               % (what, offset, _hex(bad), self.target.name), offset, bad,
                               "cannot convert %s to %s" % (what, self.target.name),
                               "unmappable", rec.ucs or None)

    def _term(self, out):
        rec = self._rec
        self._room(4096)
        for _ in range(16):
            rec.outBuf, rec.outPos, rec.outSize = self._oaddr, 0, self._osize
            st = N.lib.cconvTermConvert(ctypes.byref(rec))
            outPos = rec.outPos
            self._flush(out)
            if st == N.OK:
                return
            if st != N.OUTPUT_FULL or not outPos:
                break
        raise ConversionError("closing the output failed (status %d)" % st)

    # -- state for codecs (TextIOWrapper's tell and seek)

    # Per-character scratch fields of the record (rawCode .. ucs2), which
    # the next decode step clears, are no part of the state.
    _STATE_FROM, _SCRATCH = 44, (128, 156)

    def state_key(self):
        """The conversion state without the held input, as bytes."""
        raw = bytearray(ctypes.string_at(ctypes.addressof(self._rec) + self._STATE_FROM,
                                         ctypes.sizeof(N.Record) - self._STATE_FROM))
        a, b = (x - self._STATE_FROM for x in self._SCRATCH)
        raw[a:b] = bytes(b - a)
        if self._v is not None:
            raw += bytes(ctypes.string_at(ctypes.addressof(self._v), 12))  # form, order, mark
        return bytes(raw)

    def restore(self, key, held):
        """Puts back a state_key() and feeds the input that was held then."""
        n = ctypes.sizeof(N.Record) - self._STATE_FROM
        ctypes.memmove(ctypes.addressof(self._rec) + self._STATE_FROM, key[:n], n)
        if self._v is not None:
            ctypes.memset(ctypes.addressof(self._v), 0, ctypes.sizeof(N.Validator))
            ctypes.memmove(ctypes.addressof(self._v), key[n:], 12)
        self._held, self._base, self._state = b"", 0, "open"
        if self.feed(held):
            raise ValueError("a held state produced output")


def convert(data, from_=None, to="UTF-8", errors="strict", eol=None, bom=False, lang=None):
    """Converts a whole input; from_=None detects its encoding."""
    c = Converter(from_, to, errors, eol, bom, lang)
    first = c.feed(data)
    try:
        return first + c.finish()
    except ConversionError as e:
        e.output = first + e.output
        raise


# ---------------------------------------------------------------------------
# Detection

Detection = collections.namedtuple(
    "Detection", "encoding bom big_endian eol corrected detector xml_declared")
Detection.__doc__ = """The encoding of a buffer. encoding: the library's name; bom,
big_endian: as found; eol: 'crlf', 'cr', 'lf', 'u2028', 'u2029' or None;
corrected: the detector's answer (`detector`) was changed when checked
against the input; xml_declared: the name came from an XML declaration."""

_EOL_NAMES = {1: "crlf", 2: "cr", 3: "lf", 4: "u2028", 5: "u2029"}


def detect(data):
    """The likely encoding of data, or None when it cannot be told. The
    detector sees the first 4096 bytes; its answer is then checked against
    the whole input (up to its first megabyte): well-formed UTF-8 with a
    multi-byte sequence is UTF-8, and an answer that does not decode
    cleanly gives way to a Japanese encoding that does."""
    data = bytes(data)
    return _detect(data[:CONFIRM_BYTES], len(data) <= CONFIRM_BYTES)


def _detect(data, whole):
    chk = N.ChkRecord(inBuf=N.address(data), inPos=0, inLen=min(len(data), DETECT_BYTES))
    N.lib.cconvChkEncode(ctypes.byref(chk))
    conf = N.Confirmation()
    if N.host.zkhConfirmEncoding(ctypes.byref(chk), N.address(data), len(data), int(whole),
                                 ctypes.byref(conf)) != 1:
        return None
    return Detection(conf.encodingName.decode("latin-1"), bool(chk.hasBom),
                     bool(conf.bigEndian), _EOL_NAMES.get(chk.newlineKind),
                     bool(conf.corrected), chk.encodingName.decode("latin-1"),
                     bool(chk.xmlDeclared))


# ---------------------------------------------------------------------------
# The charset directory


def charset_dir():
    """The library's charset directory (defaulted on first use)."""
    N.lib.cconvLoadRule()
    return N.lib.KVT_getCharsetPath().decode("utf-8", "surrogateescape")


def set_charset_dir(path):
    """Uses the encodings of another directory; only before first use."""
    p = os.fsencode(path)
    if not p.endswith(b"/"):
        p += b"/"
    if not os.path.isdir(p) or len(p) >= N.TEXT - 3 or N.lib.KVT_setCharsetPath(p) != 1:
        raise ValueError("cannot use %r as the charset directory (it must exist, be shorter than "
                         "%d characters and be set before first use)" % (path, N.TEXT - 4))


_encodings = None


def encodings():
    """The encodings the charset directory provides (the library's names)."""
    global _encodings
    if _encodings is None:
        d, names = charset_dir(), set()
        for f in sorted(os.listdir(d or ".")):
            if f.lower().endswith(".xml"):
                name = _rule_name(os.path.join(d, f))
                rec = N.Record()
                if name and N.lib.cconvInitConvert(ctypes.byref(rec), None,
                                                   name.encode("latin-1")) == N.OK:
                    names.add(name)
        _encodings = sorted(names)
    return list(_encodings)


def _rule_name(path):
    """The <name> of a rule file, which is UTF-16 (either order) or 8-bit."""
    try:
        with open(path, "rb") as f:
            raw = f.read(1 << 20)
    except OSError:
        return None
    if raw[:2] in (b"\xff\xfe", b"\xfe\xff"):
        text = raw.decode("utf-16", "replace")
    elif len(raw) >= 2 and (raw[0] == 0 or raw[1] == 0):
        text = raw.decode("utf-16-be" if raw[0] == 0 else "utf-16-le", "replace")
    else:
        text = raw.decode("latin-1")
    m = re.search(r"<name[^>]*>\s*([^<]*?)\s*<", text)
    return m.group(1) if m and len(m.group(1)) < N.TEXT else None
