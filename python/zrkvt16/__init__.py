"""zrkvt16: conversion of Japanese and other East Asian text between
encodings, and detection of the encoding of a buffer, over libzrkvt16.

    >>> import zrkvt16
    >>> zrkvt16.convert("日本".encode("utf-8"), "UTF-8", "SJIS")
    b'\\x93\\xfa\\x96{'

`import zrkvt16.codecs` registers Python codecs named "zrkvt16-<encoding>";
`python3 -m zrkvt16.bulk` converts directory trees on Dask.
"""

from ._native import LIBRARY_PATH
from .core import (CONFIRM_BYTES, DETECT_BYTES, ConversionError, Converter, Detection,
                   Encoding, UnknownEncodingError, charset_dir, convert, detect, encodings,
                   resolve, set_charset_dir)

__all__ = ["ConversionError", "Converter", "Detection", "Encoding", "UnknownEncodingError",
           "charset_dir", "convert", "detect", "encodings", "resolve", "set_charset_dir",
           "LIBRARY_PATH", "DETECT_BYTES", "CONFIRM_BYTES"]
__version__ = "0.1.0"
