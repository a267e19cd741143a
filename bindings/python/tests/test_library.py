"""The library: where it is found, and what it says about itself."""

from __future__ import annotations

import ctypes.util
import os
import shutil
import subprocess
import sys
import textwrap
import typing
from pathlib import Path
from typing import Dict

import datenbank
from support import PACKAGE_DIRECTORY, ScratchTestCase

LIBRARY_FILE = {"win32": "datenbank.dll", "darwin": "libdatenbank.dylib"}.get(
    sys.platform, "libdatenbank.so"
)


class InfoTest(ScratchTestCase):
    def test_version_and_information_texts(self) -> None:
        info = datenbank.info()
        self.assertEqual(info.version, (1, 1))
        self.assertTrue(datenbank.__version__.startswith("%d.%d." % info.version))
        self.assertEqual(info.version_text, "Beta-Version!")
        self.assertEqual(info.module_name, "Ovelt Datenbank")
        # Longer than the first buffer, and decoded from Windows-1252.
        self.assertTrue(info.description.startswith("Datenbank-Modul f\u00fcr CSV-"))
        self.assertIn("\u00a9", info.copyright)
        self.assertIn("Alle Rechte vorbehalten", info.copyright)
        self.assertTrue(info.maker)
        for text in info[1:]:
            self.assertNotIn("\0", text)

    def test_the_library_in_use(self) -> None:
        path = Path(datenbank.library_path())
        self.assertTrue(path.is_file(), path)
        if os.environ.get("DATENBANK_LIBRARY"):
            self.assertEqual(path, Path(os.environ["DATENBANK_LIBRARY"]))


class FindingTheLibraryTest(ScratchTestCase):
    """Each case imports a copy of the package in a fresh interpreter."""

    def setUp(self) -> None:
        super().setUp()
        self.package = self.directory / "site" / "datenbank"
        leave_out = shutil.ignore_patterns("*.so", "*.dll", "*.dylib", "__pycache__")
        shutil.copytree(PACKAGE_DIRECTORY, self.package, ignore=leave_out)
        self.library = Path(datenbank.library_path())

    def run_copy(self, environment: Dict[str, str]) -> "subprocess.CompletedProcess[str]":
        code = textwrap.dedent(
            """
            import datenbank
            try:
                print(datenbank.library_path())
                print(datenbank.info().module_name)
            except datenbank.LibraryNotFoundError as error:
                assert isinstance(error, OSError)
                print("NOT FOUND")
                print(error)
            """
        )
        env = {
            key: value
            for key, value in os.environ.items()
            if key not in ("DATENBANK_LIBRARY", "PYTHONPATH", "LD_LIBRARY_PATH")
        }
        env.update(environment)
        env["PYTHONPATH"] = str(self.package.parent)
        return subprocess.run(
            [sys.executable, "-c", code],
            capture_output=True,
            text=True,
            env=env,
            timeout=120,
            cwd=self.directory,
        )

    def test_the_environment_variable_comes_first_and_alone(self) -> None:
        shutil.copy(self.library, self.package / LIBRARY_FILE)
        missing = str(self.directory / "nowhere" / LIBRARY_FILE)
        result = self.run_copy({"DATENBANK_LIBRARY": missing})
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0], "NOT FOUND")
        self.assertIn(missing, result.stdout)
        self.assertIn("DATENBANK_LIBRARY", result.stdout)
        self.assertNotIn(str(self.package), result.stdout)

    def test_a_library_next_to_the_package(self) -> None:
        shutil.copy(self.library, self.package / LIBRARY_FILE)
        result = self.run_copy({})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(
            result.stdout.splitlines(), [str(self.package / LIBRARY_FILE), "Ovelt Datenbank"]
        )

    def test_the_systems_library_path(self) -> None:
        if sys.platform == "win32":
            self.skipTest("the search path of DLLs is not set by an environment variable here")
        variable = "DYLD_LIBRARY_PATH" if sys.platform == "darwin" else "LD_LIBRARY_PATH"
        shutil.copy(self.library, self.directory / LIBRARY_FILE)
        result = self.run_copy({variable: str(self.directory)})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [LIBRARY_FILE, "Ovelt Datenbank"])

    def test_the_error_names_every_place_tried(self) -> None:
        if ctypes.util.find_library("datenbank"):
            self.skipTest("a library is installed on the system's library path")
        result = self.run_copy({})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[0], "NOT FOUND")
        self.assertIn(str(self.package / LIBRARY_FILE), result.stdout)
        self.assertIn("next to the package", result.stdout)
        self.assertIn("the system's library path", result.stdout)
        self.assertIn("DATENBANK_LIBRARY", result.stdout)

    def test_a_library_without_the_factory_is_refused(self) -> None:
        other = ctypes.util.find_library("m") or ctypes.util.find_library("c")
        if other is None:
            self.skipTest("no system library to offer")
        result = self.run_copy({"DATENBANK_LIBRARY": other})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[0], "NOT FOUND")
        self.assertIn("does not export _CreateDatenbankClassInstance", result.stdout)


class TypeHintTest(ScratchTestCase):
    def test_every_public_function_has_hints_that_resolve(self) -> None:
        functions = [datenbank.info, datenbank.library_path]
        for name in ("Table", "Record"):
            cls = getattr(datenbank, name)
            for attribute, member in vars(cls).items():
                if attribute.startswith("_") and attribute not in ("__getitem__", "__init__"):
                    continue
                member = member.fget if isinstance(member, property) else member
                member = getattr(member, "__func__", member)
                if callable(member):
                    functions.append(member)
        self.assertGreater(len(functions), 15)
        for function in functions:
            with self.subTest(function=function.__qualname__):
                hints = typing.get_type_hints(function)
                self.assertIn("return", hints)
