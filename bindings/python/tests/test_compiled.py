"""The two ways of reading: the extension module's loops and ctypes alone give the same."""

from __future__ import annotations

import datetime
import itertools
import os
import unittest
from typing import Any, Callable, Iterator, List, Optional, Tuple

import datenbank
from datenbank import _codec, _library
from support import ScratchTestCase

try:
    import _datenbank
except ImportError:
    _datenbank = None  # type: ignore[assignment]

# More records than iteration reads at a time, and fields around the first buffer's size.
MANY = b"".join(b"%d;%s\r\n" % (n, b"\xe4\x80" * (n % 1100)) for n in range(1000))


class PathTest(unittest.TestCase):
    def test_the_path_in_use_is_the_one_this_run_expects(self) -> None:
        # The build runs the suite once with the extension and once without.
        expected = os.environ.get("DATENBANK_EXPECT_COMPILED")
        if expected is None:
            self.skipTest("DATENBANK_EXPECT_COMPILED is not set")
        self.assertEqual(datenbank.COMPILED, expected == "1")


class WholeTableTest(ScratchTestCase):
    def test_every_record_reads_the_same_through_each_access(self) -> None:
        table = self.load(MANY)
        expected = [[str(n), "\xe4\u20ac" * (n % 1100)] for n in range(1000)]
        self.assertEqual(list(table), expected)
        self.assertEqual([table[n].values() for n in (999, 0, 500, -1, 1)],
                         [expected[n] for n in (999, 0, 500, -1, 1)])
        fields = [table[n][1] for n in (700, 3, 998)]
        self.assertEqual(fields, [expected[n][1] for n in (700, 3, 998)])

    def test_changes_during_iteration_are_seen_at_the_next_record(self) -> None:
        # Each case: the position at which to act, and a list operation with its arguments,
        # done on the table and on a list of its records.
        cases: List[Tuple[int, str, Tuple[Any, ...]]] = [
            (10, "__delitem__", (11,)),
            (100, "__delitem__", (0,)),
            (250, "__setitem__", (252, ["x", "y"])),
            (600, "append", (["a", "b"],)),
            (999, "append", (["a", "b"],)),
        ]
        for at, operation, arguments in cases:
            with self.subTest(at=at, operation=operation):
                table = self.load(MANY)
                walked: List[object] = []
                edits: List[Any] = [_Edit(table), list(table)]
                for rows in edits:
                    seen = []
                    for index, row in enumerate(rows):
                        seen.append(row)
                        if index == at:
                            getattr(rows, operation)(*arguments)
                    if isinstance(rows, list):
                        self.assertEqual(walked, seen)
                    walked = seen


class _Edit:
    """The list operations of the cases above, done on a table."""

    def __init__(self, table: datenbank.Table) -> None:
        self.table = table

    def __iter__(self) -> Iterator[List[Optional[str]]]:
        return iter(self.table)  # type: ignore[arg-type]

    def __delitem__(self, index: int) -> None:
        del self.table[index]

    def __setitem__(self, index: int, values: List[str]) -> None:
        for field, value in enumerate(values):
            self.table[index][field] = value

    def append(self, values: List[str]) -> None:
        self.table.add(values)


@unittest.skipIf(_datenbank is None, "the extension module is not built")
class ExtensionEdgeTest(ScratchTestCase):
    def test_the_text_kinds_and_the_capsule_name_agree_with_the_package(self) -> None:
        for name in ("TEXT_BYTES", "TEXT_CHARMAP", "TEXT_UTF8", "TEXT_LATIN1"):
            self.assertEqual(getattr(_datenbank, name), getattr(_codec, name), name)
        self.assertEqual(_datenbank.TABLE_CAPSULE.encode(), _library.TABLE_CAPSULE)

    def test_bad_arguments_raise_instead_of_crashing(self) -> None:
        table = self.load(b"a;b\n")
        capsule = table._capsule
        charmap: Optional[str] = _codec._DECODING_TABLE
        cases: List[Tuple[Tuple[Any, ...], type]] = [
            ((capsule, 0, 1, 9, charmap), ValueError),  # no such text kind
            ((capsule, 0, 1, 1, "short"), TypeError),
            ((capsule, 0, 1, 1, None), TypeError),
            ((capsule, -1, 1, 0, None), _datenbank.Failure),
            ((capsule, 5, 6, 0, None), _datenbank.Failure),
        ]
        for arguments, error in cases:
            with self.subTest(arguments=arguments[:4]), self.assertRaises(error):
                _datenbank.rows(*arguments)
        with self.assertRaises(_datenbank.Failure):
            _datenbank.field(capsule, 0, 7, 0, None)  # no such field
        table.close()  # the object now answers every question with dbErrNotOpen
        calls: List[Callable[[], object]] = [
            lambda: _datenbank.seek(capsule, 0),
            lambda: _datenbank.rows(capsule, 0, 1, 0, None),
        ]
        for call in calls:
            with self.assertRaises(_datenbank.Failure) as caught:
                call()
            self.assertEqual(caught.exception.args, (-15,))

    def test_only_a_table_of_the_package_is_taken(self) -> None:
        # Nothing else stands for a table: no number is taken as the place of an object, nor
        # a capsule of another module. Each call raises without touching memory.
        other_capsule = getattr(datetime, "datetime_CAPI")  # not in the type stubs
        forged: List[object] = [4096, 0, -1, 2**70, None, other_capsule, "table"]
        calls: List[Callable[[object], object]] = [
            lambda table: _datenbank.seek(table, 0),
            lambda table: _datenbank.field(table, 0, 0, 0, None),
            lambda table: _datenbank.rows(table, 0, 1, 0, None),
        ]
        for table, call in itertools.product(forged, calls):
            with self.subTest(table=table), self.assertRaises(TypeError):
                call(table)
