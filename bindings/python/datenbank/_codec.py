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
from typing import Callable, Optional, Union

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


# How the compiled loops turn field bytes into objects (the same numbers as in _datenbank.c).
TEXT_BYTES = 0
TEXT_CHARMAP = 1
TEXT_UTF8 = 2
TEXT_LATIN1 = 3


class TextCodec:
    """How a table's field texts are turned into str and back."""

    __slots__ = ("name", "kind", "table", "decode", "encode")

    def __init__(
        self,
        name: str,
        kind: int,
        table: Optional[str],
        decode: Callable[[bytes], str],
        encode: Callable[[str], bytes],
    ) -> None:
        self.name = name
        self.kind = kind
        self.table = table
        self.decode = decode
        self.encode = encode


def _encoder(codec: str, name: str) -> Callable[[str], bytes]:
    def encode_text(text: str) -> bytes:
        try:
            return text.encode(codec)
        except UnicodeEncodeError as error:
            raise UnicodeEncodeError(
                name, text, error.start, error.end, f"the character has no {name} encoding"
            ) from None

    return encode_text


_CODECS = {
    "cp1252": TextCodec(ENCODING, TEXT_CHARMAP, _DECODING_TABLE, decode, encode),
    "utf-8": TextCodec(
        "utf-8", TEXT_UTF8, None, lambda data: data.decode("utf-8"), _encoder("utf-8", "UTF-8")
    ),
    "iso8859-1": TextCodec(
        "latin-1",
        TEXT_LATIN1,
        None,
        lambda data: data.decode("latin-1"),
        _encoder("latin-1", "Latin-1"),
    ),
}


def text_codec(encoding: str) -> TextCodec:
    """The codec of an encoding name: Windows-1252 (the module's), UTF-8 or Latin-1.

    A name Python does not know raises LookupError, as open() does; another codec ValueError.
    """
    if not isinstance(encoding, str):
        raise TypeError(f"an encoding must be a str, not {type(encoding).__name__}")
    found = _CODECS.get(codecs.lookup(encoding).name)
    if found is None:
        raise ValueError(f"the encoding must be cp1252, utf-8 or latin-1, not {encoding!r}")
    return found


# Bytes a field text cannot hold: the module's texts end at a NUL, and a saved line ends at CR LF.
_LINE_BREAKS = {b"\0": "a NUL character", b"\r": "a carriage return", b"\n": "a line feed"}


def to_module_text(
    value: object,
    what: str,
    delimiter: Optional[bytes] = None,
    codec: Optional[TextCodec] = None,
) -> bytes:
    """A field text as the module's bytes: str is encoded, bytes pass as they are.

    A text the module cannot keep or a saved file cannot give back is refused: one holding a
    NUL (the module's texts end there), CR, LF (a saved record is one line) or the delimiter.
    """
    if isinstance(value, str):
        data = (encode if codec is None else codec.encode)(value)
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"{what} must be str or bytes, not {type(value).__name__}")
    for byte, name in _LINE_BREAKS.items():
        if byte in data:
            raise ValueError(f"{what} must not contain {name}")
    if delimiter is not None and delimiter in data:
        raise ValueError(f"{what} must not contain the delimiter {delimiter!r}")
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
