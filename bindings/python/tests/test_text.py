"""Texts: Windows-1252 for str, the stored bytes for bytes."""

from __future__ import annotations

from typing import Tuple, Union

import datenbank
from support import ScratchTestCase

# Every byte that can stand in a field (no NUL, CR, LF or delimiter), including the five that
# Windows-1252 leaves undefined.
EVERY_FIELD_BYTE = bytes(b for b in range(1, 256) if b not in (0x0A, 0x0D, 0x3B))


class TextTest(ScratchTestCase):
    def test_texts_are_windows_1252_both_ways(self) -> None:
        table = self.load(b"M\xfcller;\x80 5\r\n")
        self.assertEqual(table[0], ["M\u00fcller", "\u20ac 5"])
        table[0][1] = "Stra\u00dfe \u2013 \u201eneu\u201c"
        table.save()
        self.assertEqual(self.read("input.csv"), b"M\xfcller;Stra\xdfe \x96 \x84neu\x93\r\n")

    def test_every_byte_reads_as_text_and_writes_back_unchanged(self) -> None:
        table = self.load(EVERY_FIELD_BYTE + b";x\n")
        text = table[0][0]
        assert isinstance(text, str)
        self.assertEqual(len(text), len(EVERY_FIELD_BYTE))
        self.assertEqual(text[:3], "\x01\x02\x03")
        self.assertEqual(text[0x80 - 4], "\u20ac")  # 0x80 after dropping NUL, LF, CR, ';'
        table[0][1] = text
        table.save()
        expected = EVERY_FIELD_BYTE + b";" + EVERY_FIELD_BYTE + b"\r\n"
        self.assertEqual(self.read("input.csv"), expected)

    def test_raw_tables_give_out_bytes(self) -> None:
        table = self.load(b"M\xfcller;\x81\r\nx\n", raw=True)
        self.assertTrue(table.raw)
        self.assertEqual(list(table), [[b"M\xfcller", b"\x81"], [b"x", None]])
        self.assertEqual(table[0][-1], b"\x81")
        self.assertEqual(table[0][:1], [b"M\xfcller"])
        self.assertEqual(table.delimiter, b";")
        table[1][1] = "\u00e4"
        self.assertEqual(table[1][1], b"\xe4")
        with datenbank.Table.new(1, raw=True) as new:
            new.add([b"\xff"])
            self.assertEqual(list(new), [[b"\xff"]])

    def test_bytes_are_stored_as_they_are(self) -> None:
        table = self.load(b"a;b\n")
        table[0][0] = b"\xc3\xa4"  # UTF-8 bytes of a-umlaut, stored unconverted
        table[0][1] = bytearray(b"\x9d")
        self.assertEqual(table[0], ["\u00c3\u00a4", "\x9d"])
        table.save()
        self.assertEqual(self.read("input.csv"), b"\xc3\xa4;\x9d\r\n")

    def test_a_character_without_a_windows_1252_byte_changes_nothing(self) -> None:
        table = self.load(b"a;b\n")
        with self.assertRaises(UnicodeEncodeError) as caught:
            table[0][1] = "ok \u0105 no"
        self.assertEqual((caught.exception.start, caught.exception.end), (3, 4))
        self.assertEqual(caught.exception.encoding, "windows-1252")
        with self.assertRaises(UnicodeEncodeError):
            table[0][0] = "\U0001f600"
        self.assertEqual(table[0], ["a", "b"])
        table.save()
        self.assertEqual(self.read("input.csv"), b"a;b\r\n")

    def test_texts_a_saved_file_would_not_give_back_are_refused(self) -> None:
        # NUL ends a module text; CR, LF and the delimiter would split the saved record.
        for delimiter in (";", "\t"):
            table = self.load(b"a;b\n".replace(b";", delimiter.encode()), delimiter=delimiter)
            values: Tuple[Union[str, bytes], ...] = (
                "x\0y", b"\0", "a\nb", b"\r", "a\r\nb", "c" + delimiter, delimiter.encode()
            )
            for value in values:
                with self.subTest(delimiter=delimiter, value=value):
                    with self.assertRaisesRegex(ValueError, "^field 1 must not contain"):
                        table[0][1] = value
                    with self.assertRaisesRegex(ValueError, "^field 1 must not contain"):
                        table.add(["ok", value])
            self.assertEqual((list(table), len(table)), ([["a", "b"]], 1))
        self.assertEqual(self.load(b"a;b\n").add(["x,y\t"]), ["x,y\t", None])

    def test_long_fields_are_read_whole(self) -> None:
        long_text = "\u00e4" * 70000
        table = self.load(b"x;" + b"\xe4" * 70000 + b"\n")
        self.assertEqual(table[0][1], long_text)
        table[0][0] = long_text + "!"
        self.assertEqual(table[0][0], long_text + "!")
        self.assertEqual(table[0][1], long_text)
        # Texts just around the first buffer size.
        for length in (254, 255, 256, 257):
            with self.subTest(length=length):
                table[0][0] = "y" * length
                self.assertEqual(table[0][0], "y" * length)


class EncodingTest(ScratchTestCase):
    def test_each_encoding_reads_and_writes_its_own_bytes(self) -> None:
        # (encoding, its name on the table, the file's bytes, their text)
        cases = [
            ("cp1252", "windows-1252", b"M\xfcller;\x80\x81", ["M\u00fcller", "\u20ac\x81"]),
            ("utf-8", "utf-8", b"M\xc3\xbcller;\xe2\x82\xac", ["M\u00fcller", "\u20ac"]),
            ("UTF8", "utf-8", b"\xf0\x9f\x98\x80;x", ["\U0001f600", "x"]),
            ("latin-1", "latin-1", b"M\xfcller;\x80\x81", ["M\u00fcller", "\x80\x81"]),
        ]
        for encoding, name, data, texts in cases:
            with self.subTest(encoding=encoding):
                table = self.load(data + b"\r\n", encoding=encoding)
                read = (table.encoding, list(table), table[0][1])
                self.assertEqual(read, (name, [texts], texts[1]))
                table.add(texts)
                table[1][0] = texts[0]
                self.assertEqual(table[1], texts)
                table.save()
                self.assertEqual(self.read("input.csv"), (data + b"\r\n") * 2)
                with datenbank.Table.load(self.directory / "input.csv", raw=True,
                                          encoding=encoding) as raw:
                    self.assertEqual(raw[0].values(), data.split(b";"))
                with datenbank.Table.new(1, encoding=encoding) as new:
                    self.assertEqual(new.encoding, name)

    def test_refused_encodings_and_texts(self) -> None:
        with self.assertRaises(ValueError):
            datenbank.Table.new(1, encoding="utf-16")
        with self.assertRaises(LookupError):
            datenbank.Table.new(1, encoding="no such codec")
        table = self.load(b"a\xff;b\n", encoding="utf-8")
        with self.assertRaises(UnicodeDecodeError):
            list(table)
        self.assertEqual(table[0][1], "b")
        with self.assertRaises(UnicodeEncodeError):
            table.add(["\ud800"])
        latin = self.load(b"a\n", encoding="latin-1")
        with self.assertRaises(UnicodeEncodeError):
            latin[0][0] = "\u20ac"
        with self.assertRaises(ValueError):
            latin.append(self.write("more.csv", b"b\n"), encoding="utf-8")
        self.assertEqual(latin.append(self.directory / "more.csv", encoding="latin1"), 1)
        self.assertEqual(list(latin), [["a"], ["b"]])
