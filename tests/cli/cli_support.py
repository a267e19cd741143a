"""Runs the built datenbank tool in a scratch directory for the end-to-end tests.

The test modules are started by ctest as

    python3 test_view.py --tool PATH [--runner WRAPPER] [--library PATH] [unittest arguments]

--runner puts a command (e.g. wine) in front of the tool; --library names the shared library for
the tests that point DATENBANK_LIBRARY at it.
"""

from __future__ import annotations

import argparse
import os
import shlex
import subprocess
import sys
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Sequence, Union

Argument = Union[str, bytes]


@dataclass
class Settings:
    tool: str = ""
    runner: tuple[str, ...] = ()
    library: str = ""


SETTINGS = Settings()


@dataclass
class Result:
    status: int
    out: bytes
    err: bytes

    @property
    def text(self) -> str:
        return self.out.decode("utf-8")

    @property
    def error(self) -> str:
        return self.err.decode("utf-8", errors="replace")


class ToolTestCase(unittest.TestCase):
    """A test with its own scratch directory, which is the tool's working directory."""

    def setUp(self) -> None:
        scratch = tempfile.TemporaryDirectory(prefix="datenbank-cli-")
        self.addCleanup(scratch.cleanup)
        self.dir = Path(scratch.name)

    def write(self, name: str, content: bytes) -> Path:
        path = self.dir / name
        path.write_bytes(content)
        return path

    def read(self, name: str) -> bytes:
        return (self.dir / name).read_bytes()

    def run_tool(self, *arguments: Argument, env: dict[str, str] | None = None,
                 stdin: bytes | None = None, prefix: Sequence[str] = (),
                 preexec: Callable[[], None] | None = None) -> Result:
        environment = dict(os.environ)
        # Output goes to a pipe: no terminal width, no attributes, unless a test sets them.
        environment.pop("COLUMNS", None)
        environment.pop("DATENBANK_LIBRARY", None)
        environment["LANG"] = "C.UTF-8"
        environment.update(env or {})
        command: list[Argument] = [*prefix, *SETTINGS.runner, SETTINGS.tool, *arguments]
        completed = subprocess.run(command, cwd=self.dir, env=environment, input=stdin,
                                   stdin=subprocess.DEVNULL if stdin is None else None,
                                   capture_output=True, timeout=120, check=False,
                                   preexec_fn=preexec)
        return Result(completed.returncode, completed.stdout, completed.stderr)

    def run_in_terminal(self, *arguments: str, env: dict[str, str] | None = None) -> str:
        """The tool's standard output when it is a terminal (a pseudo-terminal), as text."""
        import pty  # pylint: disable=import-outside-toplevel
        environment = dict(os.environ, LANG="C.UTF-8", TERM="dumb", **(env or {}))
        environment.pop("DATENBANK_LIBRARY", None)
        leader, follower = pty.openpty()
        with subprocess.Popen([*SETTINGS.runner, SETTINGS.tool, *arguments], cwd=self.dir,
                              env=environment, stdin=subprocess.DEVNULL, stdout=follower,
                              stderr=subprocess.PIPE) as process:
            os.close(follower)
            output = b""
            while True:
                try:
                    chunk = os.read(leader, 65536)
                except OSError:  # the other end is closed
                    break
                if not chunk:
                    break
                output += chunk
            process.wait(timeout=120)
        os.close(leader)
        self.assertEqual(process.returncode, 0)
        return output.decode("utf-8")

    def assert_ok(self, result: Result) -> Result:
        self.assertEqual(result.status, 0, f"stderr: {result.error}")
        self.assertEqual(result.err, b"")
        return result

    def assert_module_failure(self, result: Result, subject: str, code: int,
                              reason: str = "") -> Result:
        """Exit status 1 and one line naming the subject, the reason the tool found (if any), the
        module's German message and the code."""
        self.assertEqual(result.status, 1, f"stdout: {result.out!r}")
        lines = result.error.splitlines()
        self.assertEqual(len(lines), 1, result.error)
        start = f"datenbank: {subject}: " + (f"{reason}: " if reason else "")
        self.assertTrue(lines[0].startswith(start), lines[0])
        self.assertTrue(lines[0].endswith(f" (code {code})"), lines[0])
        message = lines[0][len(start):-len(f" (code {code})")]
        self.assertEqual(message, self.module_message(code))
        return result

    def assert_usage_error(self, result: Result, *fragments: str) -> Result:
        self.assertEqual(result.status, 2, f"stdout: {result.out!r}")
        self.assertEqual(result.out, b"")
        self.assertTrue(result.error.startswith("datenbank: "), result.error)
        for fragment in fragments:
            self.assertIn(fragment, result.error)
        return result

    def module_message(self, code: int) -> str:
        """The module's message for a code, as the tool's error command prints it."""
        result = self.run_tool("error", "--", str(code))
        self.assertEqual(result.status, 0, result.error)
        return result.text.rstrip("\n")


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--library", default="")
    known, rest = parser.parse_known_args(argv if argv is not None else sys.argv[1:])
    SETTINGS.tool = os.path.abspath(known.tool)
    SETTINGS.runner = tuple(shlex.split(known.runner))
    SETTINGS.library = os.path.abspath(known.library) if known.library else ""
    unittest.main(module="__main__", argv=[sys.argv[0], *rest], verbosity=2)
