"""Windows-1252, the module's code page, as a one-to-one mapping of all 256 bytes.

Python's own ``cp1252`` codec leaves the five bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D
undefined and refuses to decode them, but a loaded file may hold any byte (a UTF-8 file
read as Windows-1252 is full of them). Like Windows itself, this mapping gives each of
those five bytes the control character of the same number, so every byte string decodes
and encodes back to the same bytes.
"""

from __future__ import annotations

import codecs
import os
import sys
from typing import Union

ENCODING = "windows-1252"

# Byte n decodes to character n of this table: Python's cp1252 with the five undefined bytes
# (0x81, 0x8D, 0x8F, 0x90, 0x9D) standing for the control characters of the same number.
_DECODING_TABLE = "".join(
    bytes([byte]).decode("cp1252", errors="ignore") or chr(byte) for byte in range(256)
)
_ENCODING_MAP = codecs.charmap_build(_DECODING_TABLE)

# Written out rather than as strings: typing.get_type_hints evaluates an annotation in the
# module that uses the alias, which need not import os.
if sys.version_info >= (3, 9):
    PathArgument = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
else:  # os.PathLike takes no type argument before 3.9
    PathArgument = Union[str, bytes, os.PathLike]


def decode(data: bytes) -> str:
    """Turns module bytes into text; never fails."""
    if data.isascii():
        return data.decode("ascii")
    # A decoding table given as a str of 256 characters is the codec module's fast path.
    return codecs.charmap_decode(data, "strict", _DECODING_TABLE)[0]  # type: ignore[arg-type]


def encode(text: str) -> bytes:
    """Turns text into module bytes.

    Raises UnicodeEncodeError for the first character without a Windows-1252 byte.
    """
    try:
        return codecs.charmap_encode(text, "strict", _ENCODING_MAP)[0]
    except UnicodeEncodeError as error:
        raise UnicodeEncodeError(
            ENCODING, text, error.start, error.end, "the character has no Windows-1252 byte"
        ) from None


def to_module_text(value: object, what: str) -> bytes:
    """A field text as the module's bytes: str is encoded, bytes pass as they are.

    The module's texts end at their first NUL byte, so a text holding one is refused rather
    than cut short.
    """
    if isinstance(value, str):
        data = encode(value)
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    if b"\0" in data:
        raise ValueError(f"{what} must not contain a NUL character")
    return data


def to_module_path(path: PathArgument) -> bytes:
    """A file name as the bytes the module hands to the operating system.

    On POSIX that is the file system's own encoding (what ``open`` would use); on Windows the
    module opens files through the ANSI code page.
    """
    raw = os.fspath(path)
    if isinstance(raw, str):
        data = raw.encode("mbcs") if sys.platform == "win32" else os.fsencode(raw)
    else:
        data = bytes(raw)
    if b"\0" in data:
        raise ValueError("a file name must not contain a NUL character")
    return data


def from_module_path(data: bytes) -> str:
    """The inverse of to_module_path."""
    if sys.platform == "win32":
        return data.decode("mbcs", errors="replace")
    return os.fsdecode(data)
