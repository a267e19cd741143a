"""End-to-end tests of set, add, delete, append and new: the bytes of the files they write."""

from __future__ import annotations

import os

from cli_support import ToolTestCase, main

TABLE = b"1;M\xfcller;Hans\r\n2;Schmidt\n3;Wei\xdf;J\xfcrgen\r\n"


class SetTest(ToolTestCase):
    def test_in_place_and_to_another_file(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_ok(self.run_tool("set", "t.csv", "2", "2", "\u00c4rger \u20ac"))
        # Every line is written anew with CR LF; the absent field became the converted text.
        self.assertEqual(self.read("t.csv"),
                         b"1;M\xfcller;Hans\r\n2;Schmidt;\xc4rger \x80\r\n3;Wei\xdf;J\xfcrgen\r\n")
        self.write("u.csv", TABLE)
        self.assert_ok(self.run_tool("set", "u.csv", "1", "0", "", "-o", "out.csv"))
        self.assertEqual(self.read("u.csv"), TABLE)
        self.assertEqual(self.read("out.csv"),
                         b";M\xfcller;Hans\r\n2;Schmidt;\r\n3;Wei\xdf;J\xfcrgen\r\n")

    def test_bytes_and_texts_that_look_like_options(self) -> None:
        self.write("t.csv", b"a;b\r\n")
        self.assert_ok(self.run_tool("set", "--bytes", "t.csv", "1", "0", b"\xe4\x81"))
        self.assert_ok(self.run_tool("set", "t.csv", "1", "1", "--", "-x"))
        self.assertEqual(self.read("t.csv"), b"\xe4\x81;-x\r\n")
        # Without --bytes the undefined byte 0x81 comes in as U+0081 and goes back unchanged.
        self.assert_ok(self.run_tool("set", "t.csv", "1", "1", "\u0081"))
        self.assertEqual(self.read("t.csv"), b"\xe4\x81;\x81\r\n")

    def test_every_byte_converts_to_utf8_and_back(self) -> None:
        # Every byte but NUL (which ends an argument), the line ends and the delimiter.
        line = bytes(b for b in range(1, 256) if b not in b"\n\r;")
        undefined = {0x81, 0x8D, 0x8F, 0x90, 0x9D}  # C1 controls of the same number
        text = "".join(chr(b) if b in undefined else bytes([b]).decode("cp1252") for b in line)
        self.write("t.csv", line + b";x\r\n")
        self.assertEqual(self.assert_ok(self.run_tool("get", "t.csv", "1", "0")).text, text + "\n")
        self.assert_ok(self.run_tool("set", "t.csv", "1", "1", text))
        self.assertEqual(self.read("t.csv"), line + b";" + line + b"\r\n")

    def test_unconvertible_arguments_change_nothing(self) -> None:
        self.write("t.csv", TABLE)
        result = self.assert_usage_error(self.run_tool("set", "t.csv", "1", "1", "\u65e5\u672c"),
                                         "TEXT", "U+65E5", "\u65e5", "Windows-1252")
        self.assertNotIn("?", result.error.split(":", 2)[2].split("(")[0])
        self.assert_usage_error(self.run_tool("set", "t.csv", "1", "1", b"M\xfcller"),
                                "TEXT", "invalid UTF-8", "0xFC")
        # U+0080 is a C1 control that Windows-1252 has no byte for (0x80 is the euro sign).
        self.assert_usage_error(self.run_tool("set", "t.csv", "1", "1", "\u0080"), "U+0080")
        self.assertEqual(self.read("t.csv"), TABLE)

    def test_texts_that_would_break_the_file_are_refused(self) -> None:
        self.write("t.csv", TABLE)
        cases = [(("set", "t.csv", "1", "1", "a;b"), "TEXT: holds the delimiter ';' at byte 1"),
                 (("set", "t.csv", "1", "1", "a\nb"), "TEXT: holds a line feed (0x0A) at byte 1"),
                 (("set", "-d", ":", "t.csv", "1", "0", "x:y"), "TEXT: holds the delimiter ':'"),
                 (("add", "t.csv", "ok", "a\rb"), "TEXT 1: holds a carriage return (0x0D)"),
                 (("add", "--bytes", "-d", "0xE4", "t.csv", b"\xe4"),
                  "TEXT 0: holds the delimiter '0xE4'")]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                result = self.assert_usage_error(self.run_tool(*arguments), message)
                self.assertIn("nothing was written", result.error)
                self.assertEqual(self.read("t.csv"), TABLE)

    def test_standard_input_and_output_and_other_encodings(self) -> None:
        self.write("t.csv", TABLE)
        result = self.assert_ok(self.run_tool("set", "t.csv", "2", "0", "zwei", "-o", "-"))
        self.assertEqual(result.out, TABLE.replace(b"2;Schmidt\n", b"zwei;Schmidt;\r\n"))
        self.assertEqual(self.read("t.csv"), TABLE)
        result = self.assert_ok(self.run_tool("delete", "-", "1", stdin=TABLE))
        self.assertEqual(result.out, b"2;Schmidt;\r\n3;Wei\xdf;J\xfcrgen\r\n")
        self.assert_ok(self.run_tool("add", "-", "x", "-o", "out.csv", stdin=b"a;b\n"))
        self.assertEqual(self.read("out.csv"), b"a;b\r\nx;\r\n")
        # UTF-8 and Latin-1 files take the characters in their own bytes.
        self.write("u.csv", b"a;b\r\n")
        self.assert_ok(self.run_tool("set", "--encoding", "utf-8", "u.csv", "1", "1", "Ay\u015fe"))
        self.assertEqual(self.read("u.csv"), "a;Ay\u015fe\r\n".encode())
        self.assert_ok(self.run_tool("set", "--encoding", "latin-1", "u.csv", "1", "0", "\u00e4"))
        self.assertEqual(self.read("u.csv"), b"\xe4;Ay\xc5\x9fe\r\n")
        self.assert_usage_error(self.run_tool("set", "--encoding", "latin-1", "u.csv", "1", "0",
                                              "\u20ac"), "U+20AC", "Latin-1")

    def test_what_the_module_refuses_leaves_the_file(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_module_failure(self.run_tool("set", "t.csv", "1", "3", "x"),
                                   "t.csv: record 1, field 3", -11)
        self.assert_module_failure(self.run_tool("set", "t.csv", "4", "0", "x"),
                                   "t.csv: record 4", -13)
        self.assertEqual(self.read("t.csv"), TABLE)
        self.assert_module_failure(self.run_tool("set", "nix.csv", "1", "0", "x"), "nix.csv", -2,
                                   "not found")
        self.assertFalse((self.dir / "nix.csv").exists())
        os.mkdir(self.dir / "ordner")
        self.assert_module_failure(self.run_tool("set", "ordner", "1", "0", "x"), "ordner", -2,
                                   "is a directory")
        # A save that cannot open its target: the module's dbErrFileAccess.
        self.assert_module_failure(
            self.run_tool("set", "t.csv", "1", "0", "x", "-o", "fehlt/out.csv"),
            "fehlt/out.csv", -3, "directory 'fehlt' not found")
        self.assertEqual(self.read("t.csv"), TABLE)


class AddTest(ToolTestCase):
    def test_texts_fill_the_fields_in_order(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_ok(self.run_tool("add", "t.csv", "4", "Gro\u00df"))
        self.assert_ok(self.run_tool("add", "t.csv"))
        self.assertEqual(self.read("t.csv"),
                         b"1;M\xfcller;Hans\r\n2;Schmidt;\r\n3;Wei\xdf;J\xfcrgen\r\n"
                         b"4;Gro\xdf;\r\n;;\r\n")
        # A saved line ends in CR LF, so its fields read back empty, not absent.
        result = self.assert_ok(self.run_tool("show", "--from", "4", "t.csv"))
        self.assertEqual(result.text.splitlines()[2:4], ["4  4  Groß", "5"])

    def test_too_many_texts_and_other_files(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_module_failure(self.run_tool("add", "t.csv", "a", "b", "c", "d"),
                                   "t.csv: record 4, field 3", -11)
        self.assertEqual(self.read("t.csv"), TABLE)
        self.assert_ok(self.run_tool("add", "-o", "out.csv", "t.csv", "x"))
        self.assertEqual(self.read("t.csv"), TABLE)
        self.assertTrue(self.read("out.csv").endswith(b"\r\nx;;\r\n"))

    def test_an_empty_file_takes_the_number_of_texts(self) -> None:
        self.write("empty.csv", b"")
        self.assert_ok(self.run_tool("add", "-d", "\\t", "empty.csv", "a", "", "c"))
        self.assertEqual(self.read("empty.csv"), b"a\t\tc\r\n")


class DeleteTest(ToolTestCase):
    def test_delete_records(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_ok(self.run_tool("delete", "t.csv", "2"))
        self.assertEqual(self.read("t.csv"), b"1;M\xfcller;Hans\r\n3;Wei\xdf;J\xfcrgen\r\n")
        self.assert_ok(self.run_tool("delete", "t.csv", "2", "-o", "out.csv"))
        self.assertEqual(self.read("out.csv"), b"1;M\xfcller;Hans\r\n")
        self.assert_ok(self.run_tool("delete", "out.csv", "1"))
        self.assertEqual(self.read("out.csv"), b"")

    def test_missing_records(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_module_failure(self.run_tool("delete", "t.csv", "4"), "t.csv: record 4", -13)
        self.assertEqual(self.read("t.csv"), TABLE)
        self.write("empty.csv", b"")
        self.assert_module_failure(self.run_tool("delete", "empty.csv", "1"),
                                   "empty.csv: record 1", -10)
        self.assert_usage_error(self.run_tool("delete", "t.csv"), "RECORD")


class AppendTest(ToolTestCase):
    def test_records_of_other_files_follow(self) -> None:
        self.write("t.csv", b"a;b\n")
        self.write("u.csv", b"c;d\r\ne;\r\n")
        self.write("v.csv", b"f\r\n")  # one field per line
        self.write("w.csv", b"g;h")
        self.assert_ok(self.run_tool("append", "t.csv", "u.csv", "w.csv", "t.csv"))
        self.assertEqual(self.read("t.csv"), b"a;b\r\nc;d\r\ne;\r\ng;h\r\na;b\r\n")
        self.assertEqual(self.read("u.csv"), b"c;d\r\ne;\r\n")
        self.assert_ok(self.run_tool("append", "-o", "out.csv", "u.csv", "w.csv"))
        self.assertEqual(self.read("out.csv"), b"c;d\r\ne;\r\ng;h\r\n")
        self.assertEqual(self.read("u.csv"), b"c;d\r\ne;\r\n")
        appended = self.assert_ok(self.run_tool("append", "-o", "-", "u.csv", "-", stdin=b"i;j\n"))
        self.assertEqual(appended.out, b"c;d\r\ne;\r\ni;j\r\n")
        self.assert_usage_error(self.run_tool("append", "u.csv", "-", "-", stdin=b"i;j\n"),
                                "standard input")
        # The field counts must agree; nothing is written when one does not.
        self.assert_module_failure(self.run_tool("append", "u.csv", "w.csv", "v.csv"), "v.csv", -5)
        self.assertEqual(self.read("u.csv"), b"c;d\r\ne;\r\n")

    def test_an_empty_file_takes_the_other_files(self) -> None:
        self.write("empty.csv", b"")
        self.write("u.csv", b"c;d;e\r\n")
        self.assert_ok(self.run_tool("append", "empty.csv", "u.csv"))
        self.assertEqual(self.read("empty.csv"), b"c;d;e\r\n")

    def test_failures_name_the_other_file(self) -> None:
        self.write("t.csv", b"a;b\r\n")
        self.write("ragged.csv", b"c;d\r\ne\r\n")
        self.assert_module_failure(self.run_tool("append", "--same", "t.csv", "ragged.csv"),
                                   "ragged.csv", -8)
        self.assert_module_failure(self.run_tool("append", "t.csv", "nix.csv"), "nix.csv", -2,
                                   "not found")
        self.assertEqual(self.read("t.csv"), b"a;b\r\n")
        self.assert_usage_error(self.run_tool("append", "t.csv"), "OTHER")


class NewTest(ToolTestCase):
    def test_new_table(self) -> None:
        self.assert_ok(self.run_tool("new", "neu.csv", "--fields", "3"))
        self.assertEqual(self.read("neu.csv"), b"")
        self.assert_ok(self.run_tool("add", "neu.csv", "a", "b", "c"))
        self.assertEqual(self.read("neu.csv"), b"a;b;c\r\n")

    def test_existing_files_are_replaced_only_with_force(self) -> None:
        self.write("t.csv", TABLE)
        result = self.run_tool("new", "t.csv", "--fields", "2")
        self.assertEqual(result.status, 1)
        self.assertIn("--force", result.error)
        self.assertEqual(self.read("t.csv"), TABLE)
        self.assert_ok(self.run_tool("new", "--force", "t.csv", "--fields", "2"))
        self.assertEqual(self.read("t.csv"), b"")
        self.assert_usage_error(self.run_tool("new", "x.csv"), "--fields")
        self.assert_module_failure(self.run_tool("new", "fehlt/x.csv", "--fields", "1"),
                                   "fehlt/x.csv", -3, "directory 'fehlt' not found")


if __name__ == "__main__":
    main()
