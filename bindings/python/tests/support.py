"""Shared pieces of the binding's tests: a scratch directory per test and file helpers."""

from __future__ import annotations

import os
import shutil
import tempfile
import unittest
from pathlib import Path

import datenbank

PACKAGE_DIRECTORY = Path(datenbank.__file__).resolve().parent

# Under AddressSanitizer the library cannot run with a limited address space.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")


class ScratchTestCase(unittest.TestCase):
    """A test with its own scratch directory, removed afterwards."""

    def setUp(self) -> None:
        self.directory = Path(tempfile.mkdtemp(prefix="datenbank-py-"))
        self.addCleanup(shutil.rmtree, self.directory, True)

    def write(self, name: str, data: bytes) -> Path:
        path = self.directory / name
        path.write_bytes(data)
        return path

    def read(self, name: str) -> bytes:
        return (self.directory / name).read_bytes()

    def load(self, data: bytes, **options: object) -> datenbank.Table:
        """A table loaded from a scratch file holding data; closed after the test."""
        path = self.write("input.csv", data)
        table = datenbank.Table.load(path, **options)  # type: ignore[arg-type]
        self.addCleanup(table.close)
        return table
