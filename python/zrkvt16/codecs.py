"""Python codecs for every encoding of the charset directory.

    import zrkvt16.codecs
    "日本".encode("zrkvt16-euc-jp-fix")
    open(path, encoding="zrkvt16-shift_jis-2004")

Names are "zrkvt16-" followed by a library name or one of kvtconv's aliases
(zrkvt16-sjis, zrkvt16-utf-16le, ...), in any case. errors may be 'strict',
'replace' or 'ignore'. Text is carried between Python and the library as
UTF-8; ill-formed input of the Unicode encodings is found, replaced or
dropped exactly as Python's utf-8, utf-16 and utf-32 codecs do.
"""

import codecs

from .core import (BIG, BYTES, LEGACY, LITTLE, ConversionError, Converter, Encoding, _ALIASES,
                   _key)
from .core import encodings as _encodings

PREFIX = "zrkvt16"
# Text reaches the library as UTF-8 from str, where U+FEFF is a character.
_TEXT = Encoding("UTF-8", BYTES, detect_bom=False)


def _errors(errors):
    if errors not in ("strict", "replace", "ignore"):
        raise LookupError("zrkvt16 codecs support errors='strict', 'replace' and 'ignore', "
                          "not %r" % (errors,))
    return errors


class IncrementalDecoder(codecs.IncrementalDecoder):
    encoding = None  # set per codec

    def __init__(self, errors="strict"):
        super().__init__(errors)
        self.reset()
        # Numbers for states outlive reset(): TextIOWrapper resets, then sets one.
        self._keys = [self._conv.state_key()]
        self._states = {self._keys[0]: 0}

    def reset(self):
        self._conv = Converter(self.encoding, _TEXT, _errors(self.errors))

    def decode(self, input, final=False):
        if self._conv is None:
            self.reset()
        c, data = self._conv, bytes(input)
        base, held = c._base, c._held
        try:
            out = c.feed(data)
            if final:
                out += c.finish()
                self._conv = None  # a new one when the decoder is used again
        except ConversionError as e:
            # Offsets are in what this call saw: held bytes and the new input,
            # as Python's buffered decoders report them.
            start = (base if e.offset is None else e.offset) - base
            raise UnicodeDecodeError(self.name, held + data, start, start + max(len(e.bytes), 1),
                                     e.reason) from None
        return out.decode("utf-8")

    # The state is the held bytes and a number that stands for the record's
    # conversion state (shift states, byte order); TextIOWrapper keeps both.
    def getstate(self):
        if self._conv is None:
            self.reset()
        key = self._conv.state_key()
        n = self._states.setdefault(key, len(self._keys))
        if n == len(self._keys):
            self._keys.append(key)
        return self._conv._held, n

    def setstate(self, state):
        held, n = state
        self._conv = Converter(self.encoding, _TEXT, self.errors)
        self._conv.restore(self._keys[n], held)


class IncrementalEncoder(codecs.IncrementalEncoder):
    encoding = None

    def __init__(self, errors="strict"):
        super().__init__(errors)
        self.reset()

    def reset(self):
        self._conv = Converter(_TEXT, self.encoding, _errors(self.errors))

    def encode(self, input, final=False):
        try:
            data = input.encode("utf-8")
        except UnicodeEncodeError as e:
            # Lone surrogates: as Python's own encoders treat them.
            if self.errors == "strict":
                raise UnicodeEncodeError(self.name, input, e.start, e.end, e.reason) from None
            data = input.encode("utf-8", self.errors)
        if self._conv is None:
            self.reset()
        base = self._conv._base
        try:
            out = self._conv.feed(data)
            if final:
                out += self._conv.finish()
                self._conv = None
        except ConversionError as e:
            start = len(data[:(base if e.offset is None else e.offset) - base].decode("utf-8"))
            end = start + max(len(e.bytes.decode("utf-8", "replace")), 1)
            raise UnicodeEncodeError(self.name, input, start, end, e.reason) from None
        return out


class StreamWriter(codecs.StreamWriter):
    def __init__(self, stream, errors="strict"):
        super().__init__(stream, errors)
        self._enc = self.incremental(errors)

    def encode(self, input, errors="strict"):
        return self._enc.encode(input), len(input)

    def reset(self):
        # Closes the output (ISO-2022-JP returns to ASCII) as the CJK codecs do.
        self.stream.write(self._enc.encode("", final=True))


class StreamReader(codecs.StreamReader):
    def __init__(self, stream, errors="strict"):
        super().__init__(stream, errors)
        self._dec = self.incremental(errors)

    def decode(self, input, errors="strict", final=False):
        return self._dec.decode(input, final), len(input)

    def reset(self):
        super().reset()
        self._dec.reset()


def _library_name(name):
    """The Encoding for a codec name as Python hands it over (lower case,
    '-' and ' ' turned into '_'), or None."""
    if not name.startswith(PREFIX + "_"):
        return None
    key = _key(name[len(PREFIX) + 1:])
    known = {_key(n): n for n in _encodings()}
    lib, order = _ALIASES.get(key, (known.get(key), None))
    if lib is None or _key(lib) not in known:
        return None
    return Encoding(known[_key(lib)], LEGACY if order is None else order)


def search(name):
    enc = _library_name(name)
    if enc is None:
        return None
    cname = "%s-%s%s" % (PREFIX, enc.name.lower(), {LITTLE: "-le", BIG: "-be"}.get(enc.order, ""))
    attrs = {"encoding": enc, "name": cname}
    dec = type("IncrementalDecoder", (IncrementalDecoder,), attrs)
    enc_cls = type("IncrementalEncoder", (IncrementalEncoder,), attrs)
    reader = type("StreamReader", (StreamReader,), {"incremental": dec})
    writer = type("StreamWriter", (StreamWriter,), {"incremental": enc_cls})

    def encode(input, errors="strict"):
        return enc_cls(errors).encode(input, final=True), len(input)

    def decode(input, errors="strict"):
        return dec(errors).decode(input, final=True), len(input)

    return codecs.CodecInfo(encode, decode, reader, writer, enc_cls, dec, name=cname)


codecs.register(search)
