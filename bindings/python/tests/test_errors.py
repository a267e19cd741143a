"""Failures: one exception family per kind of result code, with the module's message."""

from __future__ import annotations

import errno
import os
import pickle
import shutil
import subprocess
import sys
import textwrap
import unittest
from pathlib import Path
from typing import Callable, Dict
from unittest import mock

import datenbank
from datenbank import _library
from support import SANITIZED, ScratchTestCase


def run_python(code: str) -> "subprocess.CompletedProcess[str]":
    """Runs code in a fresh interpreter that imports the same package and library."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
    )


class ErrorFamilyTest(ScratchTestCase):
    def make_immutable(self, path: Path) -> bool:
        """Makes path immutable where root may (chattr); undone after the test."""
        if not hasattr(os, "geteuid") or os.geteuid() != 0 or not shutil.which("chattr"):
            return False
        if subprocess.run(["chattr", "+i", str(path)], capture_output=True).returncode != 0:
            return False
        self.addCleanup(lambda: subprocess.run(["chattr", "-i", str(path)], check=True))
        return True

    def assertFailure(
        self, caught: BaseException, family: type, code: int, message: str
    ) -> None:
        self.assertIsInstance(caught, family)
        self.assertIsInstance(caught, datenbank.DatenbankError)
        assert isinstance(caught, datenbank.DatenbankError)
        self.assertEqual(caught.code, code)
        self.assertEqual(caught.message, message)
        self.assertTrue(str(caught).startswith(message))

    def test_a_missing_file(self) -> None:
        for path in (self.directory / "missing.csv", self.directory):
            with self.subTest(path=path):
                with self.assertRaises(FileNotFoundError) as caught:
                    datenbank.Table.load(path)
                self.assertFailure(
                    caught.exception,
                    datenbank.DatenbankFileNotFoundError,
                    -2,
                    "Die angegebene Datei wurde nicht gefunden.",
                )

    @unittest.skipUnless(hasattr(os, "mkfifo"), "needs FIFOs")
    def test_a_file_that_cannot_be_read(self) -> None:
        fifo = self.directory / "fifo"
        os.mkfifo(fifo)
        with self.assertRaises(datenbank.AccessError) as caught:
            datenbank.Table.load(fifo)
        self.assertFailure(
            caught.exception,
            OSError,
            -3,
            "Beim Zugriff auf die Datei ist ein Fehler aufgetreten.",
        )

    def test_saving_where_no_file_can_be_made(self) -> None:
        table = self.load(b"a\n")
        with self.assertRaises(datenbank.AccessError) as caught:
            table.save(self.directory / "missing" / "out.csv")
        self.assertEqual(caught.exception.code, -3)
        self.assertEqual(self.read("input.csv"), b"a\n")

    def test_file_failures_name_the_file_and_the_operating_systems_cause(self) -> None:
        table = self.load(b"a\n")
        (self.directory / "sub").mkdir()
        # (operation, path, family, code, errno); the file name is given as a str.
        cases = [
            ("load", "missing.csv", datenbank.DatenbankFileNotFoundError, -2, errno.ENOENT),
            ("load", "sub", datenbank.DatenbankFileNotFoundError, -2, errno.EISDIR),
            ("append", "gone/x.csv", datenbank.DatenbankFileNotFoundError, -2, errno.ENOENT),
            ("save", "gone/x.csv", datenbank.AccessError, -3, errno.ENOENT),
            ("save", "sub", datenbank.AccessError, -3, errno.EISDIR),
            ("save", "input.csv/x.csv", datenbank.AccessError, -3, errno.ENOTDIR),
        ]
        if self.make_immutable(self.directory / "input.csv"):
            cases.append(("save", "input.csv", datenbank.AccessError, -3, errno.EPERM))
        for operation, name, family, code, number in cases:
            path = str(self.directory / name)
            with self.subTest(operation=operation, name=name):
                with self.assertRaises(family) as caught:
                    if operation == "load":
                        datenbank.Table.load(path)
                    else:
                        getattr(table, operation)(path)
                error = caught.exception
                self.assertEqual((error.code, error.filename, error.errno), (code, path, number))
                self.assertEqual(error.strerror, os.strerror(number))
                self.assertIn(repr(path), str(error))
                self.assertTrue(str(error).startswith(error.message))
                copy = pickle.loads(pickle.dumps(error))
                self.assertEqual((copy.filename, copy.errno, str(copy)), (path, number, str(error)))
        self.assertEqual(table.path, str(self.directory / "input.csv"))
        with self.assertRaises(datenbank.FieldCountError) as field_count:
            datenbank.Table.load(self.directory / "input.csv", fields=2)
        self.assertEqual(field_count.exception.filename, str(self.directory / "input.csv"))
        self.assertIsNone(field_count.exception.errno)

    def test_saving_without_a_file_name(self) -> None:
        with datenbank.Table.new(1) as table:
            table.add(["x"])
            with self.assertRaises(datenbank.AccessError) as caught:
                table.save()
            self.assertFailure(
                caught.exception, datenbank.AccessError, -4, "Es wurde keine Datei angegeben."
            )

    def test_field_count_and_integrity(self) -> None:
        path = self.write("uneven.csv", b"a;b\nc\n")
        with self.assertRaises(datenbank.FieldCountError) as caught:
            datenbank.Table.load(path, fields=1)
        self.assertFailure(
            caught.exception,
            datenbank.FieldCountError,
            -5,
            "Einige oder alle Datens\u00e4tze in der Datei haben eine andere Anzahl von Feldern"
            " als erwartet.",
        )
        with self.assertRaises(datenbank.IntegrityError) as caught_integrity:
            datenbank.Table.load(path, same_fields=True)
        self.assertFailure(
            caught_integrity.exception,
            datenbank.IntegrityError,
            -8,
            "Integrit\u00e4tsfehler. In der Datei sind unterschiedlich gro\u00dfe Datens\u00e4tze"
            " enthalten.",
        )

    def test_record_and_field_errors_are_index_errors(self) -> None:
        table = self.load(b"a\n")
        with self.assertRaises(IndexError) as caught:
            table[1]
        self.assertFailure(
            caught.exception,
            datenbank.NoSuchRecordError,
            -13,
            "Der angeforderte Datensatz ist nicht vorhanden.",
        )
        self.assertIn("position 1", str(caught.exception))
        with self.assertRaises(IndexError) as caught_field:
            table[0][1]
        self.assertFailure(
            caught_field.exception,
            datenbank.NoSuchFieldError,
            -11,
            "Das angegebene Feld existiert nicht.",
        )

    def test_a_closed_table_refuses_every_use(self) -> None:
        path = self.write("input.csv", b"a;b\n")
        with datenbank.Table.load(path) as table:
            record = table[0]
        self.assertTrue(table.closed)
        table.close()  # closing again does nothing
        uses: Dict[str, Callable[[], object]] = {
            "len": lambda: len(table),
            "iterate": lambda: list(table),
            "index": lambda: table[0],
            "delete": lambda: table.__delitem__(0),
            "view": lambda: record[0],
            "assign": lambda: record.__setitem__(0, "x"),
            "add": lambda: table.add(),
            "append": lambda: table.append(path),
            "save": lambda: table.save(),
            "path": lambda: table.path,
            "fields": lambda: table.field_count,
        }
        for name, use in uses.items():
            with self.subTest(use=name), self.assertRaises(datenbank.NotOpenError) as caught:
                use()
            self.assertFailure(
                caught.exception,
                ValueError,
                -15,
                "Es ist noch keine Datenbank ge\u00f6ffnet/geladen worden.",
            )
        self.assertEqual(path.read_bytes(), b"a;b\n")

    def test_the_context_manager_closes_on_an_exception(self) -> None:
        path = self.write("input.csv", b"a\n")
        with self.assertRaises(KeyError):
            with datenbank.Table.load(path) as table:
                raise KeyError("stop")
        self.assertTrue(table.closed)

    @unittest.skipIf(sys.platform == "win32", "needs POSIX limits")
    def test_a_failed_write_keeps_the_old_file(self) -> None:
        # The child may write no file larger than 4 KiB, so writing the table fails.
        target = self.write("target.csv", b"old\r\n")
        result = run_python(
            f"""
            import resource, signal, datenbank
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            table = datenbank.Table.new(1, {str(target)!r})
            for n in range(2000):
                table.add(["%05d" % n])
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
            try:
                table.save()
            except datenbank.WriteError as error:
                assert isinstance(error, OSError)
                print(error.code, error.message)
            """
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(
            result.stdout.startswith("-14 Es ist ein Fehler beim Schreiben"), result.stdout
        )
        self.assertEqual(target.read_bytes(), b"old\r\n")
        self.assertEqual(sorted(p.name for p in self.directory.iterdir()), ["target.csv"])

    @unittest.skipIf(sys.platform == "win32" or SANITIZED, "needs POSIX limits, no sanitizer")
    def test_running_out_of_memory(self) -> None:
        # A record of 2**31 - 1 fields needs more memory than the child's address space holds.
        result = run_python(
            """
            import resource, datenbank
            table = datenbank.Table.new(2**31 - 1)
            resource.setrlimit(resource.RLIMIT_AS, (2**31, 2**31))
            try:
                table.add()
            except MemoryError as error:
                assert isinstance(error, datenbank.DatenbankMemoryError)
                print(error.code, error.message, len(table))
            """
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(
            result.stdout.startswith("-7 Es konnte nicht genug Speicherplatz reserviert werden"),
            result.stdout,
        )
        self.assertTrue(result.stdout.strip().endswith(" 0"), result.stdout)

    @unittest.skipUnless(
        sys.platform.startswith("linux") and not SANITIZED, "needs /proc, no sanitizer"
    )
    def test_a_record_that_cannot_be_filled_is_not_added(self) -> None:
        # The child has room for the new record but not for a copy of its 256 MiB text.
        result = run_python(
            """
            import mmap, resource, datenbank
            table = datenbank.Table.new(2)
            table.add(["kept"])
            text = b"x" * 2**28
            with open("/proc/self/statm") as statm:
                in_use = int(statm.read().split()[0]) * mmap.PAGESIZE
            limit = in_use + 2**27
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            try:
                table.add(["a", text])
            except datenbank.DatenbankMemoryError as error:
                print(error.code, list(table))
            """
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "-7 [['kept', None]]")

    def test_an_object_whose_capsule_was_not_made_serves_the_next_table(self) -> None:
        library = _library.load()
        with mock.patch.object(library, "_released", []), mock.patch.object(
            library, "_unwrapped", []
        ):
            with mock.patch.object(_library, "_new_capsule", side_effect=MemoryError):
                self.assertRaises(MemoryError, datenbank.Table.new, 1)
            self.assertEqual(len(library._unwrapped), 1)
            kept = library._unwrapped[0]
            with mock.patch.object(library, "_factory", return_value=None):
                table = datenbank.Table.new(1)  # the factory finds no memory now
            self.assertEqual((table._obj, library._unwrapped), (kept, []))
            table.close()

    def test_exceptions_print_and_pickle_with_family_code_and_message(self) -> None:
        with self.assertRaises(datenbank.DatenbankError) as caught:
            datenbank.Table.load(self.directory / "missing.csv")
        self.assertEqual(
            repr(caught.exception),
            "DatenbankFileNotFoundError(-2, 'Die angegebene Datei wurde nicht gefunden.')",
        )
        table = self.load(b"a\n")
        with self.assertRaises(datenbank.NoSuchRecordError) as caught_record:
            table[3]
        for error in (caught.exception, caught_record.exception):
            with self.subTest(error=error):
                copy = pickle.loads(pickle.dumps(error))
                self.assertIs(type(copy), type(error))
                self.assertEqual(
                    (copy.code, copy.message, str(copy)), (error.code, error.message, str(error))
                )
