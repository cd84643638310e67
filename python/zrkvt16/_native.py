"""The two shared libraries through ctypes: libzrkvt16 (the converter) and
libzrkvt16host (Unicode validation and detection confirmation for hosts).

The library is looked for in this order: the file named by the environment
variable ZRKVT16_LIBRARY; beside this package; where `cmake --install` put
it (recorded in _install.py); in the build folders of a source checkout. The
host library is always taken from the directory of the main one, so both
share one instance of the library's process-wide state.
"""

import ctypes
import glob
import os

u8, u16, u32, i32, u64 = (ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32,
                          ctypes.c_uint64)
TEXT = 260

OK, ERROR, CHAR, NEED_INPUT, INVALID = 0, 1, 11, 12, 13
NEXT, OUTPUT_FULL, UNMAPPABLE, TERMINATE = 21, 22, 23, 31


class SrcOptions(ctypes.Structure):
    _fields_ = [("inBigEndian", u32), ("inDetectBom", u32), ("skipInvalid", u32)]


class DstOptions(ctypes.Structure):
    _fields_ = [("outBigEndian", u32), ("outWriteBom", u32), ("substitute", u32),
                ("replacement", u32), ("lang", ctypes.c_char * TEXT), ("newlineConvert", u32),
                ("newlineKind", u32), ("ncrMode", u32)]


class Substitute(ctypes.Structure):
    _fields_ = [("charset", u32), ("type", u16), ("code", u32), ("unit", u16)]


class Record(ctypes.Structure):
    _fields_ = [
        ("inBuf", ctypes.c_void_p), ("inPos", i32), ("inLen", i32), ("inChars", i32),
        ("outBuf", ctypes.c_void_p), ("outPos", i32), ("outSize", i32), ("outChars", i32),
        ("status", u32), ("srcId", u32), ("srcRule", ctypes.c_void_p),
        ("destEntry", ctypes.c_void_p), ("inCharset", u32), ("inCharsetType", u16),
        ("inDesignation", u32), ("inPlane", u32), ("dstId", u32), ("dstRule", ctypes.c_void_p),
        ("constEntry", ctypes.c_void_p), ("outCharset", u32), ("outCharsetType", u16),
        ("outDesignation", u32), ("outPlane", u32), ("rawCode", u32), ("code", u32),
        ("ucs", u32), ("outCode", u32), ("outUnit", u16), ("outSeqLen", u16),
        ("prevRawCode", u32), ("ucs2", u32), ("lang", ctypes.c_char * TEXT),
        ("langWritten", ctypes.c_char * TEXT), ("langCurrent", ctypes.c_char * TEXT),
        ("srcOptions", SrcOptions), ("dstOptions", DstOptions), ("subNarrow", Substitute),
        ("subWide", Substitute)]


class ChkRecord(ctypes.Structure):
    _fields_ = [("inBuf", ctypes.c_void_p), ("inPos", i32), ("inLen", i32),
                ("encodingName", ctypes.c_char * TEXT), ("xmlDeclared", u32), ("hasBom", u32),
                ("bigEndian", u32), ("newlineKind", u32), ("encodingClass", u32)]


class Validator(ctypes.Structure):
    _fields_ = [("form", u32), ("bigEndian", u32), ("detectBom", u32), ("pendingLen", u32),
                ("offset", u64), ("complete", u64), ("pending", u8 * 4), ("reserved", u32 * 3)]


class Issue(ctypes.Structure):
    _fields_ = [("offset", u64), ("length", u32), ("kind", u32), ("bytes", u8 * 4)]


class Confirmation(ctypes.Structure):
    _fields_ = [("encodingName", ctypes.c_char * TEXT), ("bigEndian", u32), ("corrected", u32),
                ("reason", u32)]


# The layout is the libraries' promise; a mismatch would corrupt memory.
for _t, _size in ((Record, 1272), (ChkRecord, 296), (DstOptions, 288), (Validator, 48),
                  (Issue, 24), (Confirmation, 272)):
    assert ctypes.sizeof(_t) == _size, _t.__name__

UTF8, UTF16, UCS2, UCS4 = 1, 2, 3, 4  # validator forms
BAD_BYTE, BAD_SEQUENCE, SURROGATE, OUT_OF_RANGE, TRUNCATED = 1, 2, 3, 4, 5

MAIN_NAME, HOST_NAME = "libzrkvt16.so", "libzrkvt16host.so"
_HERE = os.path.dirname(os.path.abspath(__file__))


def _candidates():
    env = os.environ.get("ZRKVT16_LIBRARY")
    if env:
        return [env]
    found = [os.path.join(_HERE, MAIN_NAME)]
    try:
        from ._install import LIBDIR
        found.append(os.path.join(_HERE, LIBDIR, MAIN_NAME))
    except ImportError:
        pass
    root = os.path.dirname(os.path.dirname(_HERE))
    builds = sorted(glob.glob(os.path.join(root, "build*", MAIN_NAME)))
    # The plain build first: a sanitized one cannot be loaded into Python.
    builds.sort(key=lambda p: os.path.basename(os.path.dirname(p)) != "build")
    return found + builds


def _load():
    tried = []
    for path in _candidates():
        host = os.path.join(os.path.dirname(path), HOST_NAME)
        if not os.path.exists(path) or not os.path.exists(host):
            tried.append(path + (" (missing)" if not os.path.exists(path)
                                 else " (no %s beside it)" % HOST_NAME))
            continue
        try:
            path = os.path.abspath(path)
            return ctypes.CDLL(path), ctypes.CDLL(os.path.abspath(host)), path
        except OSError as e:
            tried.append("%s (%s)" % (path, e))
    raise ImportError("zrkvt16: cannot load %s with %s beside it; set ZRKVT16_LIBRARY to the "
                      "path of libzrkvt16.so. Tried: %s" % (MAIN_NAME, HOST_NAME, "; ".join(tried)))


lib, host, LIBRARY_PATH = _load()

_P = ctypes.POINTER
_protos = [
    (lib.cconvLoadRule, ctypes.c_int, []),
    (lib.cconvInitConvert, u32, [_P(Record), _P(DstOptions), ctypes.c_char_p]),
    (lib.cconvChgCharset, u32, [_P(Record), _P(SrcOptions), ctypes.c_char_p]),
    (lib.cconvConvert, u32, [_P(Record)]),
    (lib.cconvTermConvert, u32, [_P(Record)]),
    (lib.cconvChkEncode, ctypes.c_int, [_P(ChkRecord)]),
    (lib.KVT_getCharsetPath, ctypes.c_char_p, []),
    (lib.KVT_setCharsetPath, ctypes.c_int, [ctypes.c_char_p]),
    (host.zkhValidatorInit, ctypes.c_int, [_P(Validator), u32, u32, u32]),
    (host.zkhValidate, ctypes.c_int, [_P(Validator), ctypes.c_void_p, ctypes.c_size_t,
                                      _P(ctypes.c_size_t), _P(Issue)]),
    (host.zkhValidateEnd, ctypes.c_int, [_P(Validator), _P(Issue)]),
    (host.zkhConfirmEncoding, ctypes.c_int, [_P(ChkRecord), ctypes.c_void_p, ctypes.c_size_t,
                                             ctypes.c_int, _P(Confirmation)]),
    (host.zkhUnknownEscape, ctypes.c_int, [ctypes.c_void_p, ctypes.c_size_t]),
]
for _fn, _res, _args in _protos:
    _fn.restype, _fn.argtypes = _res, _args


def address(data):
    """The address of a bytes object's contents; the caller keeps it alive."""
    return ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value
