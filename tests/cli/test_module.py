"""End-to-end tests of info, error, the command line's conventions, finding the library, and a
smoke test that also runs the Windows build under Wine."""

from __future__ import annotations

import fcntl
import os
import resource
import shutil
import subprocess
from pathlib import Path

from cli_support import SETTINGS, ToolTestCase, main

PROJECT_VERSION = (Path(__file__).resolve().parents[2] / "VERSION").read_text().split()[0]


class InfoTest(ToolTestCase):
    def test_information_texts(self) -> None:
        result = self.assert_ok(self.run_tool("info"))
        fields = dict(line.split(": ", 1) for line in result.text.splitlines())
        self.assertEqual(list(fields), ["version", "version text", "module", "copyright", "maker",
                                        "description", "library"])
        major, minor = PROJECT_VERSION.split(".")[:2]
        self.assertEqual(fields["version"], f"{major}.{minor}")
        self.assertEqual(fields["module"], "Ovelt Datenbank")
        for name in ("version text", "copyright", "maker", "description"):
            self.assertNotEqual(fields[name], "", name)
        # Windows-1252 0xA9 arrives as the UTF-8 copyright sign.
        self.assertIn("\u00a9", fields["copyright"])


class ErrorTest(ToolTestCase):
    def test_messages_of_result_codes(self) -> None:
        listing = self.assert_ok(self.run_tool("error")).text.splitlines()
        codes = [int(line.split("\t", 1)[0]) for line in listing]
        self.assertEqual(codes, list(range(0, -16, -1)))
        messages = [line.split("\t", 1)[1] for line in listing]
        self.assertEqual(len(set(messages)), len(messages))
        for code, message in zip(codes, messages):
            with self.subTest(code=code):
                self.assertEqual(self.assert_ok(self.run_tool("error", "--", str(code))).text,
                                 message + "\n")
        self.assertIn("Integrit\u00e4tsfehler", messages[8])

    def test_codes_the_module_does_not_know(self) -> None:
        for code in ("1", "-16"):
            result = self.run_tool("error", "--", code)
            self.assertEqual((result.status, result.out), (1, b""))
            self.assertIn("not a result code", result.error)
        self.assert_usage_error(self.run_tool("error", "minus fünf"), "CODE")


class UsageTest(ToolTestCase):
    def test_help_and_version_go_to_standard_output(self) -> None:
        for arguments in (("--help",), ("-h",), ("show", "--help"), ("set", "-h")):
            with self.subTest(arguments=arguments):
                result = self.assert_ok(self.run_tool(*arguments))
                self.assertIn("Usage: datenbank", result.text)
        self.assertIn("Records are numbered from 1", self.run_tool("get", "--help").text)
        self.assertEqual(self.assert_ok(self.run_tool("--version")).text,
                         f"datenbank {PROJECT_VERSION}\n")

    def test_commands_help_and_mistakes(self) -> None:
        for word, nearest in (("shwo", "show"), ("exprot", "export"), ("inf", "info"),
                              ("zeigen", None)):
            with self.subTest(word=word):
                result = self.assert_usage_error(self.run_tool(word, "t.csv"),
                                                 f"unknown command '{word}'")
                self.assertEqual(f"(did you mean '{nearest}'?)" in result.error, bool(nearest))
        self.assert_usage_error(self.run_tool("help", "shwo"), "did you mean 'show'")
        self.assertIn("Commands:", self.assert_ok(self.run_tool("help")).text)
        self.assertIn("Usage: datenbank export", self.assert_ok(self.run_tool("help", "export")).text)
        for command in ("info", "error"):
            self.assertNotIn("Records are numbered",
                             self.assert_ok(self.run_tool(command, "--help")).text)
        for command in ("set", "add", "import"):
            self.assertIn("CR LF", self.assert_ok(self.run_tool(command, "--help")).text)
        self.assertEqual(self.run_tool("show", "t.csv", "--count").error.splitlines()[0],
                         "datenbank: --count needs a value (N)")

    def test_usage_errors_exit_with_2(self) -> None:
        self.write("t.csv", b"a;b\r\n")
        self.assert_usage_error(self.run_tool(), "subcommand", "--help")
        self.assert_usage_error(self.run_tool("zeigen", "t.csv"), "unknown command")
        self.assert_usage_error(self.run_tool("show"), "FILE", "datenbank show --help")
        self.assert_usage_error(self.run_tool("show", "t.csv", "--count", "-1"), "--count")
        self.assert_usage_error(self.run_tool("show", "t.csv", "--schnell"), "--schnell")
        self.assert_usage_error(self.run_tool("show", "t.csv", "u.csv"))


class ReasonTest(ToolTestCase):
    """A refusal of the module keeps its message and code, after the reason the tool finds."""

    def as_other_user(self) -> tuple[str, ...]:
        """A command prefix that drops root's rights, which pass every permission check."""
        if os.geteuid() != 0:
            return ()
        if shutil.which("setpriv") is None:
            self.skipTest("root without setpriv cannot test permissions")
        os.chmod(self.dir, 0o755)
        prefix = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
        if self.run_tool("info", prefix=prefix).status != 0:
            self.skipTest("the tool's directories are closed to other users")
        return prefix

    def on_small_file_system(self, directory: str) -> tuple[str, ...]:
        """A command prefix that runs the command with 64 KiB of tmpfs mounted on directory, in
        a mount namespace of its own."""
        namespace = ("unshare", "--mount") if os.geteuid() == 0 else (
            "unshare", "--user", "--map-root-user", "--mount")
        if shutil.which("unshare") is None or subprocess.run(
                [*namespace, "true"], capture_output=True, check=False).returncode != 0:
            self.skipTest("no mount namespace to fill a file system in")
        return (*namespace, "sh", "-c",
                f'mount -t tmpfs -o size=64k tmpfs {directory} && exec "$0" "$@"')

    def test_reading(self) -> None:
        self.write("t.csv", b"a;b\r\n")
        os.mkfifo(self.dir / "fifo")
        os.symlink("nix.csv", self.dir / "link.csv")
        for name, code, reason in (("fifo", -3, "not a regular file"),
                                   ("link.csv", -2, "dangling symbolic link"),
                                   ("nix/t.csv", -2, "not found")):
            with self.subTest(name=name):
                self.assert_module_failure(self.run_tool("show", name), name, code, reason)
        with open(self.dir / "t.csv", "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.assert_module_failure(self.run_tool("get", "t.csv", "1", "0"), "t.csv", -3,
                                       "locked by another process")
            self.assert_module_failure(self.run_tool("append", "-o", "u.csv", "u.csv", "t.csv"),
                                       "u.csv", -2, "not found")
        prefix = self.as_other_user()
        os.chmod(self.dir / "t.csv", 0o600)
        self.assert_module_failure(self.run_tool("show", "t.csv", prefix=prefix), "t.csv", -3,
                                   "permission denied")

    def test_saving(self) -> None:
        table = b"a;b\r\n"
        self.write("t.csv", table)
        self.write("ro.csv", table)
        os.chmod(self.dir / "ro.csv", 0o444)
        self.assert_module_failure(self.run_tool("set", "ro.csv", "1", "0", "x"), "ro.csv", -3,
                                   "read-only file")
        with open(self.dir / "t.csv", "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.assert_module_failure(self.run_tool("set", "ro.csv", "1", "0", "x", "-o", "t.csv"),
                                       "t.csv", -3, "locked by another process")
        # The module writes whole blocks: 100 bytes of room are not enough for this file.
        self.write("big.csv", b"x" * 70000 + b";y\r\n")
        result = self.run_tool("set", "big.csv", "1", "1", "z", "-o", "out.csv",
                               preexec=lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                                                  (100, 100)))
        self.assert_module_failure(result, "out.csv", -14,
                                   "file size limit of the process (100 bytes)")
        (self.dir / "full").mkdir()
        self.assert_module_failure(
            self.run_tool("set", "big.csv", "1", "1", "z", "-o", "full/out.csv",
                          prefix=self.on_small_file_system("full")),
            "full/out.csv", -14, "disk full (65536 bytes free)")
        prefix = self.as_other_user()
        (self.dir / "closed").mkdir(mode=0o555)
        self.assert_module_failure(self.run_tool("set", "t.csv", "1", "0", "x", "-o",
                                                 "closed/t.csv", prefix=prefix),
                                   "closed/t.csv", -3, "directory not writable")
        self.assertEqual(self.read("t.csv"), table)
        self.assertEqual(self.read("ro.csv"), table)


class LibraryTest(ToolTestCase):
    def test_datenbank_library_names_the_library(self) -> None:
        if not SETTINGS.library:
            self.skipTest("no --library given")
        result = self.assert_ok(self.run_tool("info", env={"DATENBANK_LIBRARY": SETTINGS.library}))
        self.assertIn(f"library: {SETTINGS.library}\n", result.text)

    def test_a_library_that_cannot_be_loaded(self) -> None:
        missing = str(self.dir / "libfehlt.so")
        self.write("t.csv", b"a;b\r\n")
        for arguments in (("info",), ("show", "t.csv")):
            result = self.run_tool(*arguments, env={"DATENBANK_LIBRARY": missing})
            self.assertEqual((result.status, result.out), (1, b""))
            self.assertIn("libfehlt.so", result.error)
        not_a_library = self.write("t.so", b"no library")
        result = self.run_tool("info", env={"DATENBANK_LIBRARY": str(not_a_library)})
        self.assertEqual(result.status, 1)


class SmokeTest(ToolTestCase):
    """A short round through the tool with ASCII arguments, also run by the Windows build."""

    def test_show_set_check(self) -> None:
        kunden = Path(__file__).resolve().parents[2] / "examples" / "kunden.csv"
        self.write("k.csv", kunden.read_bytes())
        self.assertIn("module: Ovelt Datenbank\n", self.assert_ok(self.run_tool("info")).text)
        shown = self.assert_ok(self.run_tool("show", "k.csv")).text.splitlines()
        self.assertEqual(shown[2].split(), ["1", "1001", "Müller", "Hans", "Hauptstraße", "12",
                                            "50667", "Köln", "0221", "1234567"])
        self.assertEqual(shown[-1], "records 1-10 of 10, 7 fields")
        self.assert_ok(self.run_tool("set", "k.csv", "5", "6", "0351 123", "-o", "neu.csv"))
        self.assertEqual(self.read("k.csv"), kunden.read_bytes())
        self.assertIn(b"\r\n1005;Becker;Klaus;Am Markt 1;01067;Dresden;0351 123\r\n",
                      self.read("neu.csv"))
        self.assertEqual(self.assert_ok(self.run_tool("get", "neu.csv", "1", "1")).out,
                         "Müller\n".encode())
        result = self.assert_module_failure(self.run_tool("check", "--same", "k.csv"), "k.csv", -8)
        self.assertEqual(result.text, "fields: 7\nsame field count: no\n")
        self.assertEqual(self.assert_ok(self.run_tool("check", "--same", "neu.csv")).text,
                         "records: 10\nfields: 7\nsame field count: yes\n")

    def test_convert_and_streams(self) -> None:
        self.write("p.txt", b"root:x:0\r\nbin:x:2\r\n")
        self.assertEqual(self.assert_ok(self.run_tool("export", "p.txt", "-d", "auto")).out,
                         b"root,x,0\r\nbin,x,2\r\n")
        result = self.run_tool("show", "p.txt")
        self.assertEqual(result.status, 0)
        self.assertIn("try -d ':'", result.error)
        self.write("in.csv", b'a,"b,c"\r\nd,e\r\n')
        self.assert_ok(self.run_tool("import", "in.csv", "t.csv"))
        self.assertEqual(self.read("t.csv"), b"a;b,c\r\nd;e\r\n")
        self.assertEqual(self.assert_ok(self.run_tool("export", "-", "--to", "jsonl",
                                                      stdin=b"a;b\r\n")).out, b'["a","b"]\n')
        self.assertEqual(self.assert_ok(self.run_tool("add", "t.csv", "f", "-o", "-")).out,
                         b"a;b,c\r\nd;e\r\nf;\r\n")
        self.assert_usage_error(self.run_tool("set", "t.csv", "1", "0", "x;y"), "delimiter")
        self.assert_usage_error(self.run_tool("exprot", "t.csv"), "did you mean 'export'")


if __name__ == "__main__":
    main()
