"""The module's result codes and the exceptions that carry them."""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Type

# The module's result codes.
OK = 0
ERR_UNKNOWN = -1
ERR_FILE_NOT_FOUND = -2
ERR_FILE_ACCESS = -3
ERR_NO_FILE_NAME = -4
ERR_FIELD_COUNT = -5
ERR_NO_DELIMITER = -6
ERR_OUT_OF_MEMORY = -7
ERR_INTEGRITY = -8
ERR_NO_RECORD_SELECTED = -9
ERR_NO_RECORDS = -10
ERR_NO_SUCH_FIELD = -11
ERR_FIELD_EMPTY = -12
ERR_NO_SUCH_RECORD = -13
ERR_WRITE_FAILED = -14
ERR_NOT_OPEN = -15


class DatenbankError(Exception):
    """A failure the module reported.

    ``code`` is the module's result code (negative) and ``message`` its German message for
    that code; ``str()`` of the exception is the message, followed by ``detail`` where the
    binding knows more (which position, which field).
    """

    def __init__(self, code: int, message: str, detail: Optional[str] = None) -> None:
        super().__init__(message)
        self.code = code
        self.message = message
        self.detail = detail

    def __str__(self) -> str:
        return self.message if self.detail is None else f"{self.message} ({self.detail})"

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.code}, {self.message!r})"

    def __reduce__(self) -> Tuple[Type["DatenbankError"], Tuple[int, str, Optional[str]]]:
        # Exceptions are rebuilt from args, which hold only the message.
        return type(self), (self.code, self.message, self.detail)


class DatenbankFileNotFoundError(DatenbankError, FileNotFoundError):
    """The file does not exist, or its name names a directory (-2)."""


class AccessError(DatenbankError, OSError):
    """The file cannot be opened, read or replaced, or no file name was given (-3, -4, -6)."""


class FieldCountError(DatenbankError):
    """The file's field count is not the one asked for, or not the table's (-5)."""


class DatenbankMemoryError(DatenbankError, MemoryError):
    """The module ran out of memory, or a count passed its 32-bit range (-7)."""


class IntegrityError(DatenbankError):
    """The file's lines differ in field count and equal counts were asked for (-8)."""


class WriteError(DatenbankError, OSError):
    """Writing the file failed; the file keeps its old content (-14)."""


class RecordError(DatenbankError):
    """A record or field operation found no record or field to work on (-9 to -13)."""


class NoSuchRecordError(RecordError, IndexError):
    """A record position outside the table (-13, and -10 for an empty table)."""


class NoSuchFieldError(RecordError, IndexError):
    """A field index outside the record (-11)."""


class NotOpenError(DatenbankError, ValueError):
    """The table is closed (-15)."""


_FAMILIES: Dict[int, Type[DatenbankError]] = {
    ERR_FILE_NOT_FOUND: DatenbankFileNotFoundError,
    ERR_FILE_ACCESS: AccessError,
    ERR_NO_FILE_NAME: AccessError,
    ERR_NO_DELIMITER: AccessError,
    ERR_FIELD_COUNT: FieldCountError,
    ERR_OUT_OF_MEMORY: DatenbankMemoryError,
    ERR_INTEGRITY: IntegrityError,
    ERR_NO_RECORD_SELECTED: RecordError,
    ERR_NO_RECORDS: NoSuchRecordError,
    ERR_NO_SUCH_FIELD: NoSuchFieldError,
    ERR_FIELD_EMPTY: RecordError,
    ERR_NO_SUCH_RECORD: NoSuchRecordError,
    ERR_WRITE_FAILED: WriteError,
    ERR_NOT_OPEN: NotOpenError,
}


def error_class(code: int) -> Type[DatenbankError]:
    """The exception class of a result code; DatenbankError for codes without a family."""
    return _FAMILIES.get(code, DatenbankError)
