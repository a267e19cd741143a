"""Tables and records."""

from __future__ import annotations

import ctypes
import operator
import os
import threading
from collections.abc import Sequence
from types import TracebackType
from typing import Callable, Iterable, Iterator, List, Optional, Type, Union, overload

from . import _codec, _errors
from ._codec import PathArgument, TextCodec
from ._library import Library, TableObject, load

try:
    import _datenbank as _compiled
except ImportError:  # the package was installed without a compiler: ctypes does everything
    _compiled = None  # type: ignore[assignment]
if os.environ.get("DATENBANK_PURE_PYTHON"):
    _compiled = None  # type: ignore[assignment]

# Whether the compiled loops of _datenbank do the per-record work.
COMPILED = _compiled is not None

Value = Union[str, bytes, None]

# Iteration reads this many records at a time.
_BATCH = 256

# Most fields fit; a longer one is read again with a buffer of its own length.
_FIRST_BUFFER_SIZE = 256


def _delimiter_byte(delimiter: Union[str, bytes], codec: TextCodec) -> bytes:
    if isinstance(delimiter, str):
        data = codec.encode(delimiter)
    elif isinstance(delimiter, (bytes, bytearray)):
        data = bytes(delimiter)
    else:
        raise TypeError(f"the delimiter must be str or bytes, not {type(delimiter).__name__}")
    if len(data) != 1:
        raise ValueError(f"the delimiter must be one character, not {delimiter!r}")
    return data


def _field_count(fields: object) -> int:
    if isinstance(fields, bool) or not isinstance(fields, int):
        raise TypeError(f"a field count must be an int, not {type(fields).__name__}")
    if not 0 <= fields <= 0x7FFFFFFF:
        raise ValueError(f"a field count must be between 0 and 2**31 - 1, not {fields}")
    return fields


class Table:
    """A table of a delimited text file, held in memory by the module.

    Make one with :meth:`load` or :meth:`new`, and close it with :meth:`close` or by using
    it as a context manager. A table is a sequence of records: ``len(table)``, ``table[i]``
    (a :class:`Record`, negative positions count from the end), ``del table[i]`` and
    iteration, which yields each record as a list of its field texts (None for an absent
    field). Field texts are ``str`` decoded from the table's ``encoding`` (Windows-1252
    unless the table was made with ``"utf-8"`` or ``"latin-1"``), or the raw ``bytes`` when
    the table was made with ``raw=True``. Fields accept ``str`` (encoded the same way; a
    character the encoding cannot write raises UnicodeEncodeError before anything changes)
    and ``bytes`` (stored as they are). A text holding the delimiter, CR, LF or NUL would not
    come back from the saved file as it went in, and raises ValueError.

    A table may be shared between threads; its operations then take turns.
    """

    def __init__(self, *, raw: bool = False, encoding: str = "cp1252") -> None:
        """A table object without a table; :meth:`load` and :meth:`new` are the usual way."""
        self._codec = _codec.text_codec(encoding)
        self._library: Library = load()
        self._lock = threading.RLock()
        self._raw = raw
        self._text_kind = _codec.TEXT_BYTES if raw else self._codec.kind
        # Counts the changes that move or alter records, so that iteration sees them.
        self._changes = 0
        # The object's pointer is what ctypes calls it with; the compiled loops take its capsule.
        self._obj: Optional[int]
        self._obj, self._capsule = self._library.acquire()
        self._ops = self._library.operations(self._obj)
        self._buffer = ctypes.create_string_buffer(_FIRST_BUFFER_SIZE)
        # Set once load or new has made a table. A released object may come back holding an
        # open table without records, so the module's own answer does not tell.
        self._opened = False

    # ---- making, reading and writing tables ---------------------------------------------------

    @classmethod
    def load(
        cls,
        path: PathArgument,
        delimiter: Union[str, bytes] = ";",
        fields: Optional[int] = None,
        same_fields: bool = False,
        *,
        raw: bool = False,
        encoding: str = "cp1252",
    ) -> "Table":
        """Reads a delimited text file into a new table.

        Every line is a record and every delimiter ends a field; there is no quoting. The
        table has as many fields as the longest line, and shorter lines leave their last
        fields absent. With ``fields`` the file must have exactly that many fields
        (:class:`FieldCountError` otherwise); with ``same_fields`` every line must have as
        many fields as the first (:class:`IntegrityError` otherwise). An empty file gives a
        table without records (with ``fields`` fields, or none). ``encoding`` is how texts are
        read and written: ``"cp1252"`` (the module's own), ``"utf-8"`` or ``"latin-1"``.
        """
        table = cls(raw=raw, encoding=encoding)
        try:
            table._load(path, delimiter, fields, same_fields)
        except BaseException:
            table.close()
            raise
        return table

    @classmethod
    def new(
        cls,
        fields: int,
        path: Optional[PathArgument] = None,
        delimiter: Union[str, bytes] = ";",
        *,
        raw: bool = False,
        encoding: str = "cp1252",
    ) -> "Table":
        """A new table without records, with ``fields`` fields per record.

        ``path`` is where :meth:`save` writes the table when it is given no path itself;
        ``encoding`` as for :meth:`load`.
        """
        count = _field_count(fields)
        separator = _delimiter_byte(delimiter, _codec.text_codec(encoding))
        name = None if path is None else _codec.to_module_path(path)
        table = cls(raw=raw, encoding=encoding)
        try:
            with table._lock:
                table._ops.SetDelimiter(table._obj, separator)
                if name is not None:
                    table._set_file_name(name)
                table._ops.NewTable(table._obj, count)
                table._opened = True
        except BaseException:
            table.close()
            raise
        return table

    def append(
        self,
        path: PathArgument,
        fields: Optional[int] = None,
        same_fields: bool = False,
        *,
        encoding: Optional[str] = None,
    ) -> int:
        """Adds the records of another delimited file after the last record.

        The file must have the table's field count (:class:`FieldCountError` otherwise),
        unless the table has no records yet; ``fields`` and ``same_fields`` check it as in
        :meth:`load`. Either the whole file is appended or nothing is. The table keeps its
        own path. Returns the number of records appended.

        The file's bytes are kept as they are, so ``encoding`` must be the table's own (the
        default); it is there to say so, and another one raises ValueError.
        """
        name = _codec.to_module_path(path)
        expected = 0 if fields is None else _field_count(fields)
        if encoding is not None and _codec.text_codec(encoding) is not self._codec:
            raise ValueError(
                f"the file must be in the table's encoding {self._codec.name}, not {encoding!r}"
            )
        with self._lock:
            self._changes += 1
            obj = self._open_object()
            previous = self._ops.GetFileName(obj)
            own = None if previous is None else ctypes.string_at(previous)
            self._set_file_name(name)
            try:
                count = ctypes.c_int(expected)
                same = ctypes.c_ubyte(1 if same_fields else 0)
                check = 1 if fields is not None else 0
                result = self._ops.AppendFile(obj, ctypes.byref(count), check, ctypes.byref(same))
                if result < 0:
                    raise self._file_error(result, name, writing=False)
                return int(result)
            finally:
                if own is None:
                    self._ops.FreeFileName(obj)
                else:
                    self._set_file_name(own)

    def save(self, path: Optional[PathArgument] = None) -> int:
        """Writes the table to its path, or to ``path``, which then becomes its path once written.

        Each record becomes one line of its field texts separated by the delimiter, ended by
        CR LF; an absent field writes nothing. The file is replaced only once every byte is
        written. Returns the number of records written.
        """
        name = None if path is None else _codec.to_module_path(path)
        with self._lock:
            obj = self._open_object()
            previous = self._ops.GetFileName(obj)
            own = None if previous is None else ctypes.string_at(previous)
            if name is not None:
                self._set_file_name(name)
            try:
                written = self._ops.SaveFile(obj)
                if written < 0:
                    raise self._file_error(written, own if name is None else name, writing=True)
                return int(written)
            except BaseException:
                if name is None:
                    raise
                # A file that was not written does not become the table's path.
                if own is None:
                    self._ops.FreeFileName(obj)
                else:
                    self._set_file_name(own)
                raise

    def close(self) -> None:
        """Releases the records and the file name. Closing a closed table does nothing."""
        with self._lock:
            obj = self._obj
            if obj is None:
                return
            self._obj = None
            self._ops.CloseTable(obj)
            self._ops.FreeFileName(obj)
            self._library.release(TableObject(obj, self._capsule))

    def __enter__(self) -> "Table":
        return self

    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # at interpreter exit the library may be gone already
            pass

    # ---- properties ---------------------------------------------------------------------------

    @property
    def closed(self) -> bool:
        """Whether :meth:`close` has been called."""
        return self._obj is None

    @property
    def raw(self) -> bool:
        """Whether field texts are given out as bytes."""
        return self._raw

    @property
    def path(self) -> Optional[str]:
        """The file that :meth:`save` writes without a path, or None."""
        with self._lock:
            obj = self._open_object()
            address = self._ops.GetFileName(obj)
            return None if address is None else _codec.from_module_path(ctypes.string_at(address))

    @property
    def delimiter(self) -> Union[str, bytes]:
        """The field delimiter."""
        with self._lock:
            byte = self._ops.GetDelimiter(self._open_object())
            return byte if self._raw else self._codec.decode(byte)

    @property
    def encoding(self) -> str:
        """How field texts are decoded and encoded: windows-1252, utf-8 or latin-1."""
        return self._codec.name

    @property
    def field_count(self) -> int:
        """The number of fields of every record."""
        with self._lock:
            return self._call(self._ops.GetFieldCount)

    # ---- records ------------------------------------------------------------------------------

    def __len__(self) -> int:
        """The number of records."""
        with self._lock:
            return self._call(self._ops.GetRecordCount)

    @overload
    def __getitem__(self, index: int) -> "Record": ...

    @overload
    def __getitem__(self, index: slice) -> List["Record"]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union["Record", List["Record"]]:
        """The record at a position (a view of it), or a list of them for a slice."""
        with self._lock:
            if isinstance(index, slice):
                return [Record(self, position) for position in range(*index.indices(len(self)))]
            return Record(self, self._position(index))

    def __delitem__(self, index: int) -> None:
        """Deletes the record at a position; the records after it move up by one."""
        with self._lock:
            self._seek(self._position(index))
            self._call(self._ops.DeleteRecord)
            self._changes += 1

    def __iter__(self) -> Iterator[List[Value]]:
        """Each record as a list of its field texts, first to last.

        Like iterating a list, this goes by position: records deleted or added meanwhile
        shift what comes next.
        """
        position = 0
        while True:
            with self._lock:
                changes = self._changes
                rows = self._rows(position, position + _BATCH)
            if not rows:
                return
            for row in rows:
                if self._changes != changes:
                    break  # read again from this position
                yield row
                position += 1

    def add(self, values: Iterable[Value] = ()) -> "Record":
        """Adds a record after the last one and returns it.

        ``values`` fill the first fields; fields without a value, or with None, stay absent.
        Every value is checked before the record is added, and a record that cannot be
        filled is removed again.
        """
        with self._lock:
            separator = self._ops.GetDelimiter(self._open_object())
            texts = [
                None if value is None else self._module_text(value, index, separator)
                for index, value in enumerate(values)
            ]
            field_count = self.field_count
            if len(texts) > field_count:
                raise ValueError(f"{len(texts)} values for a table of {field_count} fields")
            number = self._call(self._ops.AddRecord)
            self._changes += 1
            try:
                for index, text in enumerate(texts):
                    if text is not None:
                        self._call(self._ops.SetField, index, text)
            except BaseException:
                self._ops.DeleteRecord(self._obj)
                raise
            return Record(self, number - 1)

    def __repr__(self) -> str:
        if self._obj is None:
            return "<datenbank.Table closed>"
        with self._lock:
            return (
                f"<datenbank.Table path={self.path!r} records={len(self)} "
                f"fields={self.field_count}>"
            )

    # ---- plumbing -----------------------------------------------------------------------------

    def _open_object(self) -> int:
        if self._obj is None or not self._opened:
            raise self._library.error(_errors.ERR_NOT_OPEN)
        return self._obj

    def _call(self, operation: Callable[..., int], *arguments: object) -> int:
        result: int = operation(self._open_object(), *arguments)
        if result < 0:
            raise self._library.error(result)
        return result

    def _set_file_name(self, name: bytes) -> None:
        if not self._ops.SetFileName(self._obj, name):
            raise self._library.error(_errors.ERR_OUT_OF_MEMORY)

    def _load(
        self,
        path: PathArgument,
        delimiter: Union[str, bytes],
        fields: Optional[int],
        same_fields: bool,
    ) -> None:
        name = _codec.to_module_path(path)
        separator = _delimiter_byte(delimiter, self._codec)
        expected = 0 if fields is None else _field_count(fields)
        with self._lock:
            obj = self._obj
            assert obj is not None
            self._ops.SetDelimiter(obj, separator)
            self._set_file_name(name)
            count = ctypes.c_int(expected)
            same = ctypes.c_ubyte(1 if same_fields else 0)
            check = 1 if fields is not None else 0
            records = self._ops.LoadFile(obj, ctypes.byref(count), check, ctypes.byref(same))
            if records < 0:
                raise self._file_error(records, name, writing=False)
            if records == 0:
                # An empty file opens no table in the module; here it is a table without records.
                self._ops.NewTable(obj, expected)
            self._opened = True

    def _position(self, index: int) -> int:
        """A 0-based position from a Python index; NoSuchRecordError when outside."""
        index = operator.index(index)
        count = len(self)
        position = index + count if index < 0 else index
        if not 0 <= position < count:
            raise self._record_error(index, count)
        return position

    def _record_error(self, index: int, count: int) -> _errors.DatenbankError:
        code = _errors.ERR_NO_SUCH_RECORD if count else _errors.ERR_NO_RECORDS
        return self._library.error(code, f"position {index} in a table of {count} records")

    def _file_error(
        self, code: int, name: Optional[bytes], writing: bool
    ) -> _errors.DatenbankError:
        """The exception for a failure with the named file, and the operating system's cause."""
        error = self._library.error(code)
        if name is None or code == _errors.ERR_NO_FILE_NAME:
            return error
        error.filename = _codec.from_module_path(name)
        if code in _errors.FILE_CODES:
            cause = _errors.os_cause(name, writing)
            if cause is not None:
                error.errno, error.strerror = cause.errno, cause.strerror
        return error

    def _module_text(self, value: object, index: int, delimiter: bytes) -> bytes:
        return _codec.to_module_text(value, f"field {index}", delimiter, self._codec)

    def _failure(self, failure: Exception) -> _errors.DatenbankError:
        """The exception for a result code the compiled loops reported."""
        return self._library.error(int(failure.args[0]))

    def _rows(self, start: int, stop: int) -> List[List[Value]]:
        """The records from 0-based start up to stop (cut to the record count)."""
        self._open_object()
        if _compiled is not None:
            if start >= self._call(self._ops.GetRecordCount):
                return []
            try:
                return _compiled.rows(
                    self._capsule, start, stop, self._text_kind, self._codec.table
                )
            except _compiled.Failure as failure:
                raise self._failure(failure) from None
        count = len(self)
        rows = []
        for position in range(start, min(stop, count)):
            self._seek(position, count)
            rows.append(self._current_values())
        return rows

    def _seek(self, position: int, count: Optional[int] = None) -> None:
        """Makes the record at a 0-based position current, by the fewest cursor steps.

        The caller has checked the position against the record count. Steps are counted from
        the first record, from the last, and from the current one, whichever is nearest.
        """
        if _compiled is not None:
            try:
                self._open_object()
                _compiled.seek(self._capsule, position)
            except _compiled.Failure as failure:
                raise self._failure(failure) from None
            return
        target = position + 1
        if count is None:
            count = self._call(self._ops.GetRecordCount)
        current = self._ops.GetRecordIndex(self._obj)
        if current == target:
            return
        from_first = target - 1
        from_last = count - target
        from_current = abs(target - current) if current > 0 else count
        if from_current <= min(from_first, from_last):
            start = current
        elif from_first <= from_last:
            start = self._call(self._ops.FirstRecord)
        else:
            start = self._call(self._ops.LastRecord)
        step = self._ops.NextRecord if target > start else self._ops.PriorRecord
        for _ in range(abs(target - start)):
            start = self._call(step)
        if start != target:
            raise RuntimeError(f"the cursor stands on record {start}, not on {target}")

    def _field(self, index: int) -> Optional[bytes]:
        """The current record's field at a checked index; None when absent."""
        while True:
            size = len(self._buffer)
            result = self._ops.GetField(self._obj, index, self._buffer, size)
            if result == 0:
                return self._buffer.value
            if result == _errors.ERR_FIELD_EMPTY:
                return None
            if result < 0:
                raise self._library.error(result)
            self._buffer = ctypes.create_string_buffer(result + 1)

    def _value_at(self, position: int, index: int) -> Value:
        """Field index (checked) of the record at a 0-based position (checked)."""
        if _compiled is not None:
            try:
                self._open_object()
                value: Value = _compiled.field(
                    self._capsule, position, index, self._text_kind, self._codec.table
                )
            except _compiled.Failure as failure:
                raise self._failure(failure) from None
            return value
        self._seek(position)
        data = self._field(index)
        if data is None or self._raw:
            return data
        return self._codec.decode(data)

    def _current_values(self) -> List[Value]:
        """All fields of the current record; the one loop that reads whole tables."""
        get_field = self._ops.GetField
        obj = self._obj
        buffer = self._buffer
        size = len(buffer)
        decode = None if self._raw else self._codec.decode
        values: List[Value] = []
        for index in range(self.field_count):
            result = get_field(obj, index, buffer, size)
            if result == 0:
                data: Optional[bytes] = buffer.value
            elif result == _errors.ERR_FIELD_EMPTY:
                data = None
            else:
                data = self._field(index)
                buffer = self._buffer
                size = len(buffer)
            values.append(data if data is None or decode is None else decode(data))
        return values


class Record(Sequence):  # type: ignore[type-arg]
    """A view of the record at one position of a table.

    Like an index into a list, a view stands for a position, not for the record that stood
    there when it was made: after ``del table[0]`` the view of position 1 shows the record
    that was at position 2. Reading or assigning ``record[j]`` goes to the table each time.
    A field index outside the record raises :class:`NoSuchFieldError` (an IndexError), and
    a position the table no longer has raises :class:`NoSuchRecordError`.
    """

    __slots__ = ("_table", "_position")

    def __init__(self, table: Table, position: int) -> None:
        self._table = table
        self._position = position

    @property
    def position(self) -> int:
        """The record's 0-based position in its table."""
        return self._position

    @property
    def table(self) -> Table:
        """The table the record belongs to."""
        return self._table

    def __len__(self) -> int:
        return self._table.field_count

    @overload
    def __getitem__(self, index: int) -> Value: ...

    @overload
    def __getitem__(self, index: slice) -> List[Value]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Value, List[Value]]:
        table = self._table
        with table._lock:
            if isinstance(index, slice):
                return self.values()[index]
            self._check_position()
            field_index = self._field_index(index)
            return table._value_at(self._position, field_index)

    def __setitem__(self, index: int, value: Union[str, bytes]) -> None:
        """Replaces a field's text; ``str`` is encoded, ``bytes`` kept as they are."""
        table = self._table
        with table._lock:
            field_index = self._field_index(index)
            separator = table._ops.GetDelimiter(table._open_object())
            text = table._module_text(value, field_index, separator)
            self._select()
            table._call(table._ops.SetField, field_index, text)
            table._changes += 1

    def __iter__(self) -> Iterator[Value]:
        return iter(self.values())

    def values(self) -> List[Value]:
        """All field texts of the record, None for an absent field."""
        table = self._table
        with table._lock:
            self._check_position()
            return table._rows(self._position, self._position + 1)[0]

    def __eq__(self, other: object) -> bool:
        if isinstance(other, (Record, list, tuple)):
            return self.values() == list(other)
        return NotImplemented

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        try:
            return f"Record({self._position}, {self.values()!r})"
        except _errors.DatenbankError as error:
            return f"<Record {self._position}: {error}>"

    def _check_position(self) -> None:
        table = self._table
        count = len(table)
        if self._position >= count:
            raise table._record_error(self._position, count)

    def _select(self) -> None:
        self._check_position()
        self._table._seek(self._position)

    def _field_index(self, index: int) -> int:
        index = operator.index(index)
        count = self._table.field_count
        position = index + count if index < 0 else index
        if not 0 <= position < count:
            raise self._table._library.error(
                _errors.ERR_NO_SUCH_FIELD, f"field {index} of a record of {count} fields"
            )
        return position
