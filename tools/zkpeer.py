"""Drives the built libzrkvt16.so from Python (ctypes), for comparisons with
Python's own codecs. Used by tools/compare_manpages.py.
"""

import ctypes
import os

CCONV_OK, CCONV_ERROR, CCONV_INVALID, CCONV_OUTPUT_FULL, CCONV_UNMAPPABLE = 0, 1, 13, 22, 23


class SrcOptions(ctypes.Structure):
    _fields_ = [("inBigEndian", ctypes.c_uint32), ("inDetectBom", ctypes.c_uint32),
                ("skipInvalid", ctypes.c_uint32)]


class DstOptions(ctypes.Structure):
    _fields_ = [("outBigEndian", ctypes.c_uint32), ("outWriteBom", ctypes.c_uint32),
                ("substitute", ctypes.c_uint32), ("replacement", ctypes.c_uint32),
                ("lang", ctypes.c_char * 260), ("newlineConvert", ctypes.c_uint32),
                ("newlineKind", ctypes.c_uint32), ("ncrMode", ctypes.c_uint32)]


class Substitute(ctypes.Structure):
    _fields_ = [("charset", ctypes.c_uint32), ("type", ctypes.c_uint16),
                ("code", ctypes.c_uint32), ("unit", ctypes.c_uint16)]


class Record(ctypes.Structure):
    _fields_ = [
        ("inBuf", ctypes.c_void_p), ("inPos", ctypes.c_int32), ("inLen", ctypes.c_int32),
        ("inChars", ctypes.c_int32), ("outBuf", ctypes.c_void_p), ("outPos", ctypes.c_int32),
        ("outSize", ctypes.c_int32), ("outChars", ctypes.c_int32), ("status", ctypes.c_uint32),
        ("srcId", ctypes.c_uint32), ("srcRule", ctypes.c_void_p), ("destEntry", ctypes.c_void_p),
        ("inCharset", ctypes.c_uint32), ("inCharsetType", ctypes.c_uint16),
        ("inDesignation", ctypes.c_uint32), ("inPlane", ctypes.c_uint32),
        ("dstId", ctypes.c_uint32), ("dstRule", ctypes.c_void_p), ("constEntry", ctypes.c_void_p),
        ("outCharset", ctypes.c_uint32), ("outCharsetType", ctypes.c_uint16),
        ("outDesignation", ctypes.c_uint32), ("outPlane", ctypes.c_uint32),
        ("rawCode", ctypes.c_uint32), ("code", ctypes.c_uint32), ("ucs", ctypes.c_uint32),
        ("outCode", ctypes.c_uint32), ("outUnit", ctypes.c_uint16), ("outSeqLen", ctypes.c_uint16),
        ("prevRawCode", ctypes.c_uint32), ("ucs2", ctypes.c_uint32),
        ("lang", ctypes.c_char * 260), ("langWritten", ctypes.c_char * 260),
        ("langCurrent", ctypes.c_char * 260), ("srcOptions", SrcOptions),
        ("dstOptions", DstOptions), ("subNarrow", Substitute), ("subWide", Substitute)]


assert ctypes.sizeof(Record) == 1272


class ConversionError(Exception):
    def __init__(self, status, pos):
        super().__init__("status %d at input byte %d" % (status, pos))
        self.status, self.pos = status, pos


class Library:
    def __init__(self, build_dir, charset_dir=None):
        self.lib = ctypes.CDLL(os.path.join(build_dir, "libzrkvt16.so"))
        self.lib.cconvInitConvert.argtypes = [ctypes.POINTER(Record), ctypes.POINTER(DstOptions),
                                              ctypes.c_char_p]
        self.lib.cconvChgCharset.argtypes = [ctypes.POINTER(Record), ctypes.POINTER(SrcOptions),
                                             ctypes.c_char_p]
        self.lib.cconvConvert.argtypes = [ctypes.POINTER(Record)]
        self.lib.cconvTermConvert.argtypes = [ctypes.POINTER(Record)]
        self.lib.KVT_setCharsetPath.argtypes = [ctypes.c_char_p]
        if charset_dir:
            self.lib.KVT_setCharsetPath(charset_dir.encode())

    def convert(self, data, source, target, skip_invalid=False, substitute=False):
        """Converts `data` from `source` to `target`, double-byte units row
        byte first. Raises ConversionError on invalid input (unless skipped)
        or unmappable characters (unless substituted: U+3013 GETA MARK for
        wide characters, "?" for narrow ones)."""
        rec = Record()
        dopt = DstOptions()
        dopt.outBigEndian = 1
        dopt.substitute = 1 if substitute else 0
        sopt = SrcOptions()
        sopt.inBigEndian = 1
        sopt.skipInvalid = 1 if skip_invalid else 0
        if self.lib.cconvInitConvert(ctypes.byref(rec), ctypes.byref(dopt), target.encode()) != 0:
            raise ConversionError(CCONV_ERROR, 0)
        if self.lib.cconvChgCharset(ctypes.byref(rec), ctypes.byref(sopt), source.encode()) != 0:
            raise ConversionError(CCONV_ERROR, 0)
        inbuf = ctypes.create_string_buffer(bytes(data), len(data) + 1)
        out = bytearray()
        size = 4 * len(data) + 64
        outbuf = ctypes.create_string_buffer(size)
        rec.inBuf = ctypes.cast(inbuf, ctypes.c_void_p)
        rec.inPos = 0
        rec.inLen = len(data)
        rec.outBuf = ctypes.cast(outbuf, ctypes.c_void_p)
        rec.outSize = size
        while True:
            rec.outPos = 0
            st = self.lib.cconvConvert(ctypes.byref(rec))
            out += outbuf.raw[:rec.outPos]
            if st == CCONV_OUTPUT_FULL:
                continue
            if st != CCONV_OK:
                raise ConversionError(st, rec.inPos)
            break
        while True:
            rec.outPos = 0
            st = self.lib.cconvTermConvert(ctypes.byref(rec))
            out += outbuf.raw[:rec.outPos]
            if st != CCONV_OUTPUT_FULL:
                break
        return bytes(out)
