"""End-to-end tests of show, check and get: output, exit status and the module's messages."""

from __future__ import annotations

import os

from cli_support import ToolTestCase, main

# Record 1 has an empty field 1; record 2 ends before field 2, which is absent.
ABSENT_AND_EMPTY = b"a;;c\r\nd;e\r\n"


class ShowTest(ToolTestCase):
    def test_table_marks_absent_fields_and_leaves_empty_ones_blank(self) -> None:
        self.write("t.csv", ABSENT_AND_EMPTY)
        result = self.assert_ok(self.run_tool("show", "t.csv"))
        self.assertEqual(result.text,
                         "#  0  1  2\n"
                         "-  -  -  -\n"
                         "1  a     c\n"
                         "2  d  e  \u2205\n"
                         "records 1-2 of 2, 3 fields\n")

    def test_raw_is_utf8_with_escapes_and_absent_as_nothing_or_the_marker(self) -> None:
        # E4 80 81 is UTF-8 as well: --encoding says these are Windows-1252 (no note about it).
        self.write("t.csv", ABSENT_AND_EMPTY + b"\xe4\x80\x81;x\ty\\;z\n")
        result = self.assert_ok(self.run_tool("show", "--raw", "--encoding", "cp1252", "t.csv"))
        self.assertEqual(result.text, "a\t\tc\nd\te\t\n\u00e4\u20ac\u0081\tx\\ty\\\\\tz\n")
        result = self.assert_ok(self.run_tool("show", "--raw", "--absent", "\u00b7", "--encoding",
                                              "cp1252", "t.csv"))
        self.assertEqual(result.text.splitlines()[1], "d\te\t\u00b7")
        # --bytes: the file's bytes, the marker too (the middle dot is 0xB7 in Windows-1252).
        result = self.assert_ok(self.run_tool("show", "--raw", "--bytes", "--absent", "\u00b7",
                                              "t.csv"))
        self.assertEqual(result.out.splitlines()[1:], [b"d\te\t\xb7",
                                                       b"\xe4\x80\x81\tx\\ty\\\\\tz"])

    def test_texts_are_converted_and_control_bytes_escaped(self) -> None:
        # M\xfcller, the euro sign 0x80, an undefined byte 0x81 and a tab inside a field.
        self.write("t.csv", b"M\xfcller;\x80 5\r\nx\x81y;a\tb\r\n")
        result = self.assert_ok(self.run_tool("show", "t.csv"))
        rows = result.text.splitlines()
        self.assertEqual(rows[2], "1  Müller  € 5")
        self.assertEqual(rows[3], "2  x\\x81y  a\\tb")
        # --bytes: the same table in Windows-1252, markers included.
        self.write("u.csv", b"M\xfcller;x\r\ny\r\n")
        result = self.assert_ok(self.run_tool("show", "--bytes", "u.csv"))
        self.assertEqual(result.out.splitlines()[2:4], [b"1  M\xfcller  x", b"2  y       \xb7"])

    def test_long_texts_are_cut_to_the_width_of_columns(self) -> None:
        self.write("t.csv", b"1;abcdefghijklmnopqrstuvwxyz\r\n2;kurz\r\n")
        expected = ("#  0  1\n"
                    "-  -  --------------\n"
                    "1  1  abcdefghijklm\u2026\n"
                    "2  2  kurz\n"
                    "records 1-2 of 2, 2 fields\n")
        self.assertEqual(self.assert_ok(self.run_tool("show", "--width", "20", "t.csv",
                                                      env={"COLUMNS": "200"})).text, expected)
        # COLUMNS counts only on a terminal; a pipe gets everything, as does --width 0.
        for arguments in (("t.csv",), ("--width", "0", "t.csv")):
            wide = self.assert_ok(self.run_tool("show", *arguments, env={"COLUMNS": "20"})).text
            self.assertIn("1  1  abcdefghijklmnopqrstuvwxyz\n", wide)
        self.assertEqual(self.run_in_terminal("show", "t.csv", env={"COLUMNS": "20"}),
                         expected.replace("\n", "\r\n"))

    def test_fields_that_do_not_fit_are_left_out_and_named(self) -> None:
        line = ";".join(f"feld{i}" for i in range(30)).encode()
        self.write("t.csv", line + b"\r\n" + line + b"\r\n")
        result = self.assert_ok(self.run_tool("show", "--width", "40", "t.csv"))
        lines = result.text.splitlines()
        for row in lines[:-1]:
            self.assertLessEqual(len(row), 40, row)
        shown = len(lines[0].split())
        self.assertGreater(shown, 2)
        self.assertEqual(lines[-1], f"records 1-2 of 2, {shown - 1} of 30 columns shown")

    def test_from_and_count_choose_the_records(self) -> None:
        self.write("t.csv", b"".join(b"r%d;x\r\n" % i for i in range(1, 13)))
        result = self.assert_ok(self.run_tool("show", "--from", "10", "--count", "2", "t.csv"))
        self.assertEqual(result.text.splitlines(),
                         [" #  0    1", "--  ---  -", "10  r10  x", "11  r11  x",
                          "records 10-11 of 12, 2 fields"])
        result = self.assert_ok(self.run_tool("show", "--raw", "--from", "12", "t.csv"))
        self.assertEqual(result.out, b"r12\tx\n")
        # Past the end: nothing, as with --count 0.
        for arguments in (("--from", "13"), ("--raw", "--from", "13"), ("--count", "0")):
            self.assertEqual(self.assert_ok(self.run_tool("show", *arguments, "t.csv")).out, b"")

    def test_delimiter_forms(self) -> None:
        self.write("tab.csv", b"a\tb\r\n")
        self.write("pipe.csv", b"a|b\r\n")
        self.write("para.csv", b"a\xa7b\r\n")
        for arguments in (("-d", "\\t", "tab.csv"), ("-d", "0x7C", "pipe.csv"),
                          ("-d", "0x7c", "pipe.csv"), ("--delimiter", "|", "pipe.csv"),
                          ("-d", "\u00a7", "para.csv"), ("--bytes", "-d", b"\xa7", "para.csv")):
            with self.subTest(arguments=arguments):
                result = self.assert_ok(self.run_tool("show", "--raw", *arguments))
                self.assertEqual(result.out, b"a\tb\n")
        self.assert_usage_error(self.run_tool("show", "-d", "ab", "pipe.csv"), "delimiter")
        self.assert_usage_error(self.run_tool("show", "-d", "0x7", "pipe.csv"), "delimiter")
        self.assert_usage_error(self.run_tool("show", "-d", "\u2192", "pipe.csv"), "U+2192")

    def test_delimiter_auto_and_the_hint_for_one_field(self) -> None:
        lines = {";": b"a;b;c\r\nd;e;f\r\n", ":": b"root:x:0\nbin:x:2\n",
                 ",": b"a,b\nc,d\ne,f,g\n", "\t": b"a\tb,c\nd\te\n", "|": b"a|b\n"}
        for delimiter, content in lines.items():
            with self.subTest(delimiter=delimiter):
                self.write("t.csv", content)
                result = self.assert_ok(self.run_tool("show", "--raw", "-d", "auto", "t.csv"))
                first = content.split(b"\n")[0].decode().rstrip("\r")
                self.assertEqual(result.text.split("\n")[0].rstrip("\t"),
                                 first.replace(delimiter, "\t"))
                hint = self.run_tool("show", "--raw", "t.csv")
                self.assertEqual(hint.status, 0)
                name = "\\t" if delimiter == "\t" else delimiter
                expected = "" if delimiter == ";" else (
                    f"datenbank: t.csv: 1 field with ';'; try -d '{name}'"
                    f" ({first.count(delimiter) + 1} fields) or -d auto\n")
                self.assertEqual(hint.error, expected)
        # No hint when -d was given, or when no candidate splits the lines.
        self.write("t.csv", b"root:x:0\n")
        self.assert_ok(self.run_tool("show", "-d", ";", "t.csv"))
        self.write("one.csv", b"abc\ndef\n")
        self.assert_ok(self.run_tool("show", "one.csv"))

    def test_header_and_columns(self) -> None:
        self.write("t.csv", b"id;name;city\r\n1;M\xfcller;K\xf6ln\r\n2;Weber\r\n")
        result = self.assert_ok(self.run_tool("show", "--header", "t.csv"))
        self.assertEqual(result.text, "#  id  name    city\n-  --  ------  ----\n"
                                      "2  1   Müller  Köln\n3  2   Weber   \u2205\n"
                                      "records 2-3 of 3, 3 fields\n")
        for arguments, expected in (
                (("--columns", "2,0"), "city\tid\nK\u00f6ln\t1\n\t2\n"),
                (("--columns", "city,id", "--header"), "city\tid\nKöln\t1\n\t2\n"),
                (("--columns", "1-", "--from", "3"), "Weber\t\n"),
                (("--header", "--columns", "0-1", "--count", "1"), "id\tname\n1\tMüller\n")):
            with self.subTest(arguments=arguments):
                self.assertEqual(self.assert_ok(self.run_tool("show", "--raw", "t.csv",
                                                              *arguments)).text, expected)
        for columns, fragment in (("name", "need --header"), ("3", "fields 0-2"),
                                  ("2-1", "backwards"), ("a,,b", "not a field number")):
            with self.subTest(columns=columns):
                self.assert_usage_error(self.run_tool("show", "t.csv", "--columns", columns),
                                        "--columns", fragment)
        self.assert_usage_error(self.run_tool("show", "t.csv", "--header", "--columns", "x"),
                                "the header has: id, name, city")

    def test_encodings(self) -> None:
        # \u00c5land in UTF-8, a byte that is no UTF-8, a wide character.
        self.write("t.csv", "\u00c5land;\u65e5\u672c\r\nM\xfcller;x\r\n".encode("utf-8")
                   .replace(b"M\xc3\xbcller", b"M\xfcller"))
        result = self.assert_ok(self.run_tool("show", "--encoding", "utf-8", "t.csv"))
        self.assertEqual(result.text.splitlines()[2:4], ["1  \u00c5land      \u65e5\u672c",
                                                         "2  M\\xFCller  x"])
        self.assertEqual(self.assert_ok(self.run_tool("show", "--raw", "--encoding", "UTF8",
                                                      "t.csv")).text,
                         "\u00c5land\t\u65e5\u672c\nM\\xFCller\tx\n")
        self.assertEqual(self.assert_ok(self.run_tool("get", "--encoding", "utf-8", "t.csv", "1",
                                                      "0")).text, "\u00c5land\n")
        # Without --encoding a file of UTF-8 lines gets a note; one with a byte that is not gets none.
        self.write("u.csv", "\u00c5land;x\r\n".encode())
        self.assertEqual(self.run_tool("show", "u.csv").error,
                         "datenbank: u.csv: the texts look like UTF-8; --encoding utf-8 reads them "
                         "as such\n")
        self.assert_ok(self.run_tool("show", "t.csv"))
        # Latin-1 has C1 controls where Windows-1252 has the euro sign.
        self.write("e.csv", b"\x80\xe4\r\n")
        for encoding, shown in (("latin-1", "\\x80\u00e4"), ("cp1252", "\u20ac\u00e4")):
            result = self.assert_ok(self.run_tool("show", "--encoding", encoding, "e.csv"))
            self.assertEqual(result.text.splitlines()[2], "1  " + shown)
        self.assert_usage_error(self.run_tool("show", "--encoding", "ebcdic", "e.csv"),
                                "--encoding")

    def test_standard_input_leaves_no_file_behind(self) -> None:
        scratch = self.dir / "tmp"
        scratch.mkdir()
        env = {"TMPDIR": str(scratch)}
        result = self.assert_ok(self.run_tool("show", "-", "--raw", "-d", ":", env=env,
                                              stdin=b"a:b\nc:d\n"))
        self.assertEqual(result.text, "a\tb\nc\td\n")
        result = self.assert_ok(self.run_tool("check", "-", env=env, stdin=b""))
        self.assertEqual(result.text, "records: 0\nfields: 0\nsame field count: yes\n")
        self.assert_module_failure(self.run_tool("check", "--same", "-", env=env,
                                                 stdin=b"a;b\nc\n"), "standard input", -8)
        self.assertEqual(list(scratch.iterdir()), [])

    def test_empty_file_missing_file_and_directory(self) -> None:
        self.write("empty.csv", b"")
        self.assertEqual(self.assert_ok(self.run_tool("show", "empty.csv")).text, "0 records\n")
        self.assertEqual(self.assert_ok(self.run_tool("show", "--raw", "empty.csv")).out, b"")
        self.assert_module_failure(self.run_tool("show", "nix.csv"), "nix.csv", -2, "not found")
        os.mkdir(self.dir / "ordner")
        self.assert_module_failure(self.run_tool("show", "ordner"), "ordner", -2, "is a directory")


class CheckTest(ToolTestCase):
    def test_consistent_file(self) -> None:
        self.write("t.csv", b"a;b;c\r\nd;e;f\r\n")
        for arguments in ((), ("--same",), ("--fields", "3"), ("--fields", "3", "--same")):
            with self.subTest(arguments=arguments):
                result = self.assert_ok(self.run_tool("check", "t.csv", *arguments))
                self.assertEqual(result.text, "records: 2\nfields: 3\nsame field count: yes\n")

    def test_lines_that_differ_fail_only_with_same(self) -> None:
        self.write("t.csv", ABSENT_AND_EMPTY)
        result = self.assert_ok(self.run_tool("check", "t.csv"))
        self.assertEqual(result.text, "records: 2\nfields: 3\nsame field count: no\n")
        result = self.assert_module_failure(self.run_tool("check", "--same", "t.csv"), "t.csv", -8)
        self.assertEqual(result.text, "fields: 3\nsame field count: no\n")
        # The German message arrives as UTF-8.
        self.assertIn("Integrit\u00e4tsfehler", result.error)

    def test_field_count_check_reports_the_files_count(self) -> None:
        self.write("t.csv", b"a;b;c\r\nd;e;f\r\n")
        result = self.assert_module_failure(self.run_tool("check", "--fields", "4", "t.csv"),
                                            "t.csv", -5)
        self.assertEqual(result.text, "fields: 3 (expected 4)\n")
        self.assertIn("Datens\u00e4tze", result.error)

    def test_files_that_cannot_be_loaded(self) -> None:
        self.write("empty.csv", b"")
        self.assertEqual(self.assert_ok(self.run_tool("check", "--fields", "2", "empty.csv")).text,
                         "records: 0\nfields: 0\nsame field count: yes\n")
        self.assert_module_failure(self.run_tool("check", "nix.csv"), "nix.csv", -2, "not found")
        os.mkdir(self.dir / "ordner")
        self.assert_module_failure(self.run_tool("check", "ordner"), "ordner", -2, "is a directory")


class GetTest(ToolTestCase):
    def test_field_texts(self) -> None:
        self.write("t.csv", b"1;M\xfcller\r\n2;;\r\n3\r\n")
        self.assertEqual(self.assert_ok(self.run_tool("get", "t.csv", "1", "1")).out,
                         "Müller\n".encode())
        self.assertEqual(self.assert_ok(self.run_tool("get", "--bytes", "t.csv", "1", "1")).out,
                         b"M\xfcller\n")
        self.assertEqual(self.assert_ok(self.run_tool("get", "t.csv", "2", "2")).out, b"\n")

    def test_what_the_module_refuses(self) -> None:
        self.write("t.csv", b"1;M\xfcller\r\n2;;\r\n3\r\n")
        self.assert_module_failure(self.run_tool("get", "t.csv", "3", "1"),
                                   "t.csv: record 3, field 1", -12)
        self.assert_module_failure(self.run_tool("get", "t.csv", "1", "3"),
                                   "t.csv: record 1, field 3", -11)
        self.assert_module_failure(self.run_tool("get", "t.csv", "4", "0"), "t.csv: record 4", -13)
        self.write("empty.csv", b"")
        self.assert_module_failure(self.run_tool("get", "empty.csv", "1", "0"),
                                   "empty.csv: record 1", -10)

    def test_numbers_out_of_their_range_are_usage_errors(self) -> None:
        self.write("t.csv", b"a;b\r\n")
        self.assert_usage_error(self.run_tool("get", "t.csv", "0", "0"), "RECORD")
        self.assert_usage_error(self.run_tool("get", "t.csv", "1", "-1"), "FIELD")
        self.assert_usage_error(self.run_tool("get", "t.csv", "1", "eins"), "FIELD")
        self.assert_usage_error(self.run_tool("get", "t.csv", "1"), "FIELD")


if __name__ == "__main__":
    main()
