"""Finding and loading the module's shared library, and calling a table object's operations.

A table object is a pointer whose first word points to the object's table of 29 operations,
in the fixed slot order of the module's interface. Each operation is a plain C function with
the object as its first argument (``__cdecl`` on 32-bit Windows), so ``CFUNCTYPE`` calls it.

The extension module _datenbank never takes a pointer as a number: it takes a capsule named
TABLE_CAPSULE, which only :meth:`Library.acquire` makes, from an object the factory returned.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple

from . import _codec, _errors

if sys.platform == "win32":
    LIBRARY_FILE = "datenbank.dll"
elif sys.platform == "darwin":
    LIBRARY_FILE = "libdatenbank.dylib"
else:
    LIBRARY_FILE = "libdatenbank.so"

FACTORY = "_CreateDatenbankClassInstance"

# DB_BOOL: one byte, exactly 0 or 1.
_BOOL = ctypes.c_ubyte
_INT = ctypes.c_int
_UINT = ctypes.c_uint
_INT_P = ctypes.POINTER(ctypes.c_int)
_BOOL_P = ctypes.POINTER(ctypes.c_ubyte)
_BUF = ctypes.c_void_p
_TEXT = ctypes.c_char_p

# Slot number: name, result type, argument types after the object.
_SLOTS: List[Tuple[str, Any, Tuple[Any, ...]]] = [
    ("GetFileName", ctypes.c_void_p, ()),
    ("SetFileName", _BOOL, (_TEXT,)),
    ("FreeFileName", _BOOL, ()),
    ("SetDelimiter", _BOOL, (ctypes.c_char,)),
    ("GetDelimiter", ctypes.c_char, ()),
    ("GetVersion", _BOOL, (_INT_P, _INT_P)),
    ("GetVersionTextLength", _INT, ()),
    ("GetVersionText", _BOOL, (_BUF,)),
    ("LoadFile", _INT, (_INT_P, _BOOL, _BOOL_P)),
    ("AppendFile", _INT, (_INT_P, _BOOL, _BOOL_P)),
    ("CloseTable", _BOOL, ()),
    ("GetField", _INT, (_INT, _BUF, _UINT)),
    ("GetErrorText", _INT, (_INT, _BUF, _UINT)),
    ("NextRecord", _INT, ()),
    ("FirstRecord", _INT, ()),
    ("LastRecord", _INT, ()),
    ("PriorRecord", _INT, ()),
    ("GetFieldCount", _INT, ()),
    ("GetRecordIndex", _INT, ()),
    ("GetRecordCount", _INT, ()),
    ("GetModuleName", _INT, (_BUF, _UINT)),
    ("GetCopyrightText", _INT, (_BUF, _UINT)),
    ("GetMakerText", _INT, (_BUF, _UINT)),
    ("GetDescription", _INT, (_BUF, _UINT)),
    ("SetField", _INT, (_INT, _TEXT)),
    ("SaveFile", _INT, ()),
    ("DeleteRecord", _INT, ()),
    ("AddRecord", _INT, ()),
    ("NewTable", _INT, (_INT,)),
]
SLOT_COUNT = 29

# The name of the capsules that carry a table object to _datenbank, which checks it. The bytes
# stay referenced here for as long as the package is loaded, as a capsule keeps only a pointer
# to its name.
TABLE_CAPSULE = b"_datenbank.table"
_new_capsule = ctypes.PYFUNCTYPE(
    ctypes.py_object, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p
)(("PyCapsule_New", ctypes.pythonapi))

# A buffer of this size takes every message of the module.
MESSAGE_BUFFER_SIZE = 159


class TableObject(NamedTuple):
    """An object from the factory: its pointer for ctypes, and its capsule for _datenbank."""

    obj: int
    capsule: object


class LibraryNotFoundError(OSError):
    """The module's shared library could not be loaded; the message lists every place tried."""


class _Operations:
    """The 29 operations of one operation table, callable with the object pointer first."""

    GetFileName: Callable[..., Optional[int]]
    SetFileName: Callable[..., int]
    FreeFileName: Callable[..., int]
    SetDelimiter: Callable[..., int]
    GetDelimiter: Callable[..., bytes]
    GetVersion: Callable[..., int]
    GetVersionTextLength: Callable[..., int]
    GetVersionText: Callable[..., int]
    LoadFile: Callable[..., int]
    AppendFile: Callable[..., int]
    CloseTable: Callable[..., int]
    GetField: Callable[..., int]
    GetErrorText: Callable[..., int]
    NextRecord: Callable[..., int]
    FirstRecord: Callable[..., int]
    LastRecord: Callable[..., int]
    PriorRecord: Callable[..., int]
    GetFieldCount: Callable[..., int]
    GetRecordIndex: Callable[..., int]
    GetRecordCount: Callable[..., int]
    GetModuleName: Callable[..., int]
    GetCopyrightText: Callable[..., int]
    GetMakerText: Callable[..., int]
    GetDescription: Callable[..., int]
    SetField: Callable[..., int]
    SaveFile: Callable[..., int]
    DeleteRecord: Callable[..., int]
    AddRecord: Callable[..., int]
    NewTable: Callable[..., int]

    def __init__(self, table_address: int) -> None:
        entries = ctypes.cast(table_address, ctypes.POINTER(ctypes.c_void_p))
        for slot, (name, result, arguments) in enumerate(_SLOTS):
            prototype = ctypes.CFUNCTYPE(result, ctypes.c_void_p, *arguments)
            setattr(self, name, prototype(entries[slot]))


assert len(_SLOTS) == SLOT_COUNT
assert [name for name, _, _ in _SLOTS] == list(_Operations.__annotations__)


class Library:
    """The loaded shared library: its factory, and a spare object for the fixed texts."""

    def __init__(self, path: str, handle: ctypes.CDLL) -> None:
        self.path = path
        self._handle = handle
        factory = getattr(handle, FACTORY)
        factory.restype = ctypes.c_void_p
        factory.argtypes = []
        self._factory: Callable[[], Optional[int]] = factory
        # All objects of one library share one operation table.
        self._operations: Dict[int, _Operations] = {}
        # Objects are never destroyed; those whose tables are closed wait here for the next
        # table, so a program that opens and closes tables keeps a bounded number of them.
        self._released: List[TableObject] = []
        # Objects from the factory whose capsule could not be made, for the next try.
        self._unwrapped: List[int] = []
        self._lock = threading.Lock()
        self._messages: Dict[int, str] = {}
        # Messages and information texts do not depend on an object's state. One object is
        # made up front to answer them, so that even a factory that finds no memory later
        # can be reported with the module's own message.
        self._spare: Optional[int] = self._factory()

    def operations(self, obj: int) -> _Operations:
        """The operations of the object at address obj."""
        table_address = ctypes.cast(obj, ctypes.POINTER(ctypes.c_void_p))[0]
        assert table_address is not None
        with self._lock:
            found = self._operations.get(table_address)
            if found is None:
                found = _Operations(table_address)
                self._operations[table_address] = found
            return found

    def acquire(self) -> TableObject:
        """A table object in its closed state: a released one, or a new one from the factory."""
        with self._lock:
            if self._released:
                return self._released.pop()
            obj = self._unwrapped.pop() if self._unwrapped else None
        if obj is None:
            obj = self._factory()
            if not obj:
                raise self.error(_errors.ERR_OUT_OF_MEMORY)
        try:
            capsule = _new_capsule(obj, TABLE_CAPSULE, None)
        except MemoryError:
            with self._lock:
                self._unwrapped.append(obj)
            raise
        return TableObject(obj, capsule)

    def release(self, table: TableObject) -> None:
        """Takes back an object whose table is closed and whose file name is released."""
        with self._lock:
            self._released.append(table)

    def message(self, code: int) -> str:
        """The module's message for a result code."""
        cached = self._messages.get(code)
        if cached is not None:
            return cached
        if not self._spare:
            self._spare = self._factory()
            if not self._spare:
                return f"result code {code}"
        text = read_text(self.operations(self._spare).GetErrorText, self._spare, code)
        if text is None:
            return f"result code {code}"
        message = _codec.decode(text)
        self._messages[code] = message
        return message

    def error(self, code: int, detail: Optional[str] = None) -> _errors.DatenbankError:
        """The exception for a negative result code."""
        return _errors.error_class(code)(code, self.message(code), detail)

    def spare(self) -> Tuple[int, _Operations]:
        """The object that answers the questions that need no table."""
        if not self._spare:
            self._spare = self._factory()
            if not self._spare:
                raise self.error(_errors.ERR_OUT_OF_MEMORY)
        return self._spare, self.operations(self._spare)


def read_text(operation: Callable[..., int], obj: int, *leading: int) -> Optional[bytes]:
    """A text through the text-out convention; None when the operation answers with a code.

    The first buffer takes most texts; a longer text is read again with its own length.
    """
    size = MESSAGE_BUFFER_SIZE
    while True:
        buffer = ctypes.create_string_buffer(size)
        result = operation(obj, *leading, buffer, size)
        if result == 0:
            return buffer.value
        if result < 0:
            return None
        size = result + 1


_library: Optional[Library] = None
_load_lock = threading.Lock()


def _candidates() -> List[Tuple[str, str]]:
    """Where the library is looked for, in order: (what to load, where it came from)."""
    configured = os.environ.get("DATENBANK_LIBRARY", "")
    if configured:
        return [(configured, "DATENBANK_LIBRARY")]
    found: List[Tuple[str, str]] = [
        (str(Path(__file__).resolve().parent / LIBRARY_FILE), "next to the package"),
        (LIBRARY_FILE, "the system's library path"),
    ]
    located = ctypes.util.find_library("datenbank")
    if located and located != LIBRARY_FILE:
        found.append((located, "the system's library path"))
    return found


def load() -> Library:
    """The module's library, loaded on first use.

    It is looked for in the file named by the environment variable DATENBANK_LIBRARY (and
    only there when it is set), then next to this package, then on the system's library path.
    """
    global _library
    with _load_lock:
        if _library is not None:
            return _library
        tried: List[str] = []
        for name, origin in _candidates():
            if origin == "next to the package" and not os.path.exists(name):
                tried.append(f"{name} ({origin}): no such file")
                continue
            try:
                handle = ctypes.CDLL(name)
            except OSError as error:
                tried.append(f"{name} ({origin}): {error}")
                continue
            try:
                getattr(handle, FACTORY)
            except AttributeError:
                tried.append(f"{name} ({origin}): does not export {FACTORY}")
                continue
            _library = Library(name, handle)
            return _library
        raise LibraryNotFoundError(
            "The Ovelt Datenbank library could not be loaded. Tried:\n  "
            + "\n  ".join(tried)
            + f"\nSet DATENBANK_LIBRARY to the path of {LIBRARY_FILE}."
        )
