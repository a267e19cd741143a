"""End-to-end tests of export and import: the bytes they write, what they refuse, and the way
from a table file to CSV and back."""

from __future__ import annotations

import csv
import io

from cli_support import ToolTestCase, main

# A header, a text with a comma and quotes, a tab, an empty field and two absent ones.
TABLE = b'id;name;note\r\n1;M\xfcller;"a, b"\r\n2;x\ty;\r\n3\r\n'


class ExportTest(ToolTestCase):
    def test_forms(self) -> None:
        self.write("t.csv", TABLE)
        cases = [
            ((), 'id,name,note\r\n1,Müller,"""a, b"""\r\n2,x\ty,\r\n3,,\r\n'),
            (("--to", "tsv"), 'id\tname\tnote\n1\tMüller\t"a, b"\n2\tx\\ty\t\n3\t\t\n'),
            (("--to", "jsonl"), '["id","name","note"]\n["1","Müller","\\"a, b\\""]\n'
                                '["2","x\\ty",""]\n["3",null,null]\n'),
            (("--to", "jsonl", "--header", "--columns", "note,0"),
             '{"note":"\\"a, b\\"","id":"1"}\n{"note":"","id":"2"}\n{"note":null,"id":"3"}\n'),
            (("--to", "tsv", "--header", "--columns", "1-"), 'name\tnote\nMüller\t"a, b"\n'
                                                             'x\\ty\t\n\t\n'),
        ]
        for arguments, expected in cases:
            with self.subTest(arguments=arguments):
                self.assertEqual(self.assert_ok(self.run_tool("export", "t.csv", *arguments)).text,
                                 expected)
        # Python's reader gets the records back, and a record of one empty field survives.
        self.write("e.csv", b"a\r\n\r\nb\r\n")
        for name, records in (("t.csv", [["id", "name", "note"], ["1", "Müller", '"a, b"'],
                                         ["2", "x\ty", ""], ["3", "", ""]]),
                              ("e.csv", [["a"], [""], ["b"]])):
            text = self.assert_ok(self.run_tool("export", name)).text
            self.assertEqual(list(csv.reader(io.StringIO(text, newline=""))), records)

    def test_output_file_and_bytes_that_do_not_decode(self) -> None:
        self.write("t.csv", TABLE)
        self.assert_ok(self.run_tool("export", "t.csv", "-o", "out.csv", "--to", "tsv"))
        self.assertTrue(self.read("out.csv").startswith(b"id\tname\tnote\n1\tM\xc3\xbcller"))
        self.assertEqual(self.read("t.csv"), TABLE)
        result = self.run_tool("export", "t.csv", "--encoding", "utf-8", "-o", "bad.csv")
        self.assertEqual((result.status, result.out), (1, b""))
        self.assertIn("record 2, field 1: byte 0xFC at 1 is not UTF-8", result.error)
        self.assertFalse((self.dir / "bad.csv").exists())
        self.assert_usage_error(self.run_tool("export", "t.csv", "--to", "xml"), "--to")
        self.assert_usage_error(self.run_tool("export", "t.csv", "--columns", "name"), "--header")


class ImportTest(ToolTestCase):
    def test_csv_to_table_and_back(self) -> None:
        source = '\ufeffid,name,note\r\n1,"Müller, Hans","say ""hi"""\r\n2,Özdemir\n'
        self.write("in.csv", source.encode())
        self.assert_ok(self.run_tool("import", "in.csv", "t.csv"))
        table = b'id;name;note\r\n1;M\xfcller, Hans;say "hi"\r\n2;\xd6zdemir;\r\n'
        self.assertEqual(self.read("t.csv"), table)
        self.assertEqual(self.assert_ok(self.run_tool("export", "t.csv")).text,
                         'id,name,note\r\n1,"Müller, Hans","say ""hi"""\r\n2,Özdemir,\r\n')
        # Standard input to standard output, another delimiter and encoding.
        result = self.assert_ok(self.run_tool("import", "-", "-", "-d", "|", "--encoding",
                                              "utf-8", stdin=source.encode()))
        self.assertEqual(result.out, table.replace(b";", b"|").decode("cp1252").encode())
        # An existing file only with --force.
        self.assertEqual(self.run_tool("import", "in.csv", "t.csv").status, 1)
        self.assert_ok(self.run_tool("import", "--force", "in.csv", "t.csv", "-d", "\\t"))
        self.assertEqual(self.read("t.csv"), table.replace(b";", b"\t"))

    def test_fields_that_would_break_the_table_are_refused(self) -> None:
        cases = [
            ('a,b\r\n"x;y",z\r\n', (), "line 2, field 1: holds the delimiter ';'"),
            ('a,"b\nc"\r\n', (), "line 1, field 2: holds a line feed"),
            ('a,"b\rc"\r\n', (), "line 1, field 2: holds a carriage return"),
            ("a,\u015f\r\n", (), "line 1, field 2: the character U+015F"),
            ("\u20ac\r\n", ("--encoding", "latin-1"), "line 1, field 1: the character U+20AC"),
            ('a,"b\r\n', (), "line 1, field 2: the quote opened on line 1 is never closed"),
            ('a,"b"c\r\n', (), "line 1, field 2: text after the closing quote"),
        ]
        for source, arguments, message in cases:
            with self.subTest(source=source):
                self.write("in.csv", source.encode())
                result = self.run_tool("import", "in.csv", "t.csv", *arguments)
                self.assertEqual(result.status, 1, result.error)
                self.assertIn(f"datenbank: in.csv: {message}", result.error)
                self.assertFalse((self.dir / "t.csv").exists())


if __name__ == "__main__":
    main()
