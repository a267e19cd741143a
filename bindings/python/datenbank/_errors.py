"""The module's result codes and the exceptions that carry them."""

from __future__ import annotations

import errno as _errno
import os
import stat
from typing import Any, Dict, Optional, Tuple, Type, Union

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
    binding knows more (which position, which field, which file). A failure about a file has
    its name in ``filename``, and where the operating system tells why the file could not be
    used, its ``errno`` and ``strerror`` (as an OSError has them; None when it does not tell).
    """

    # int or None, typed as OSError types them.
    errno: Any
    strerror: Any

    def __init__(
        self,
        code: int,
        message: str,
        detail: Optional[str] = None,
        filename: Optional[str] = None,
        errno: Optional[int] = None,
        strerror: Optional[str] = None,
    ) -> None:
        super().__init__(message)
        self.code = code
        self.message = message
        self.detail = detail
        self.filename = filename
        self.errno = errno
        self.strerror = strerror

    def __str__(self) -> str:
        about = [] if self.detail is None else [self.detail]
        if self.filename is not None:
            cause = "" if self.strerror is None else f"{self.strerror}: "
            about.append(f"{cause}{self.filename!r}")
        return self.message if not about else f"{self.message} ({'; '.join(about)})"

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.code}, {self.message!r})"

    def __reduce__(
        self,
    ) -> Tuple[
        Type["DatenbankError"],
        Tuple[int, str, Optional[str], Optional[str], Optional[int], Optional[str]],
    ]:
        # Exceptions are rebuilt from args, which hold only the message.
        return type(self), (
            self.code,
            self.message,
            self.detail,
            self.filename,
            self.errno,
            self.strerror,
        )


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


# The codes after which the binding asks the operating system what is wrong with the file.
FILE_CODES = (ERR_FILE_NOT_FOUND, ERR_FILE_ACCESS, ERR_WRITE_FAILED)


def os_cause(path: bytes, writing: bool) -> Optional[OSError]:
    """Why the operating system refuses the file, asked after the module failed with it.

    Reading needs an existing regular file that opens for reading; writing needs one that opens
    for writing, or a directory that takes a new file. The file is only opened, never changed;
    a file that is not regular (a FIFO would block) and a failure the operating system does not
    explain give None.
    """
    try:
        info = os.stat(path)
    except OSError as error:
        if not writing or not isinstance(error, FileNotFoundError):
            return error
        return _directory_cause(os.path.dirname(path) or b".")
    if stat.S_ISDIR(info.st_mode):
        return _error(_errno.EISDIR, path)
    if not stat.S_ISREG(info.st_mode):
        return None
    try:
        os.close(os.open(path, (os.O_WRONLY if writing else os.O_RDONLY) | _NOT_INHERITED))
    except OSError as error:
        return error
    return None


_NOT_INHERITED = getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_NOINHERIT", 0)


def _error(code: int, path: Union[str, bytes]) -> OSError:
    return OSError(code, os.strerror(code), path)


def _directory_cause(directory: bytes) -> Optional[OSError]:
    try:
        info = os.stat(directory)
    except OSError as error:
        return error
    if not stat.S_ISDIR(info.st_mode):
        return _error(_errno.ENOTDIR, directory)
    if hasattr(os, "statvfs") and os.statvfs(directory).f_flag & getattr(os, "ST_RDONLY", 0):
        return _error(_errno.EROFS, directory)
    if not os.access(directory, os.W_OK | os.X_OK):
        return _error(_errno.EACCES, directory)
    return None
