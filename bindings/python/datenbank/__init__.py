"""Ovelt Datenbank for Python: tables of delimited text files.

>>> import datenbank
>>> with datenbank.Table.load("kunden.csv", delimiter=";") as table:
...     for record in table:
...         print(record)
...     table[0][1] = "neu"
...     table.save("kunden.neu.csv")

The tables live in the module's shared library, which this package drives through its binary
interface: through the extension module ``_datenbank`` where it was built (``COMPILED``), which
reads whole records and walks the cursor in C, and through ctypes alone otherwise. The library
is looked for in the file named by the environment variable
``DATENBANK_LIBRARY``, then next to this package, then on the system's library path.
"""

from __future__ import annotations

import ctypes
from typing import Callable, NamedTuple, Tuple

from . import _codec, _library
from ._errors import (
    AccessError,
    DatenbankError,
    DatenbankFileNotFoundError,
    DatenbankMemoryError,
    FieldCountError,
    IntegrityError,
    NoSuchFieldError,
    NoSuchRecordError,
    NotOpenError,
    RecordError,
    WriteError,
)
from ._library import LibraryNotFoundError
from ._table import COMPILED, Record, Table

__all__ = [
    "COMPILED",
    "AccessError",
    "DatenbankError",
    "DatenbankFileNotFoundError",
    "DatenbankMemoryError",
    "FieldCountError",
    "Info",
    "IntegrityError",
    "LibraryNotFoundError",
    "NoSuchFieldError",
    "NoSuchRecordError",
    "NotOpenError",
    "Record",
    "RecordError",
    "Table",
    "WriteError",
    "info",
    "library_path",
]

__version__ = "1.1.0"


class Info(NamedTuple):
    """What the module says about itself."""

    version: Tuple[int, int]
    version_text: str
    module_name: str
    copyright: str
    maker: str
    description: str


def info() -> Info:
    """The module's version numbers and its information texts."""
    library = _library.load()
    obj, ops = library.spare()
    major = ctypes.c_int(0)
    minor = ctypes.c_int(0)
    ops.GetVersion(obj, ctypes.byref(major), ctypes.byref(minor))
    # GetVersionText writes the whole text without knowing the buffer's size.
    buffer = ctypes.create_string_buffer(ops.GetVersionTextLength(obj) + 1)
    ops.GetVersionText(obj, buffer)

    def text(operation: Callable[..., int]) -> str:
        data = _library.read_text(operation, obj)
        return "" if data is None else _codec.decode(data)

    return Info(
        version=(major.value, minor.value),
        version_text=_codec.decode(buffer.value),
        module_name=text(ops.GetModuleName),
        copyright=text(ops.GetCopyrightText),
        maker=text(ops.GetMakerText),
        description=text(ops.GetDescription),
    )


def library_path() -> str:
    """The path of the shared library in use, loading it if need be."""
    return _library.load().path
