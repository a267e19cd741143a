"""Tables: loading, reading, editing, adding, deleting, appending and saving records."""

from __future__ import annotations

import os
import random
import sys
import threading
from pathlib import Path
from typing import List, Tuple, Union

import datenbank
from support import ScratchTestCase

THREE_RECORDS = b"a;b;c\r\nd;e;f\r\ng;h;i\r\n"


class LoadTest(ScratchTestCase):
    def test_records_fields_and_settings_of_a_loaded_file(self) -> None:
        table = self.load(THREE_RECORDS)
        self.assertEqual(len(table), 3)
        self.assertEqual(table.field_count, 3)
        self.assertEqual(list(table), [["a", "b", "c"], ["d", "e", "f"], ["g", "h", "i"]])
        self.assertEqual(table.path, str(self.directory / "input.csv"))
        self.assertEqual(table.delimiter, ";")
        self.assertFalse(table.closed)

    def test_shorter_lines_leave_their_last_fields_absent(self) -> None:
        # The table has the longest line's field count; an empty text is not an absent field,
        # and an empty last field of a last line without line feed stays absent.
        table = self.load(b"a;b;c\nd\n;\ng;h;")
        self.assertEqual(table.field_count, 3)
        self.assertEqual(
            list(table),
            [["a", "b", "c"], ["d", None, None], ["", "", None], ["g", "h", None]],
        )
        self.assertIsNone(table[1][2])
        self.assertEqual(table[2][0], "")

    def test_other_delimiters(self) -> None:
        self.assertEqual(list(self.load(b"a\tb;c\n", delimiter="\t")), [["a", "b;c"]])
        self.assertEqual(list(self.load(b"a|b\n", delimiter=b"|")), [["a", "b"]])
        # The euro sign is the one byte 0x80 in Windows-1252.
        self.assertEqual(list(self.load(b"x\x80y\n", delimiter="\u20ac")), [["x", "y"]])

    def test_a_delimiter_must_be_one_byte(self) -> None:
        path = self.write("input.csv", THREE_RECORDS)
        delimiters: Tuple[Union[str, bytes], ...] = ("", ";;", b"ab")
        for delimiter in delimiters:
            with self.subTest(delimiter=delimiter):
                with self.assertRaises(ValueError):
                    datenbank.Table.load(path, delimiter=delimiter)
        with self.assertRaises(UnicodeEncodeError):
            datenbank.Table.load(path, delimiter="\u2603")
        with self.assertRaises(TypeError):
            datenbank.Table.load(path, delimiter=59)  # type: ignore[arg-type]

    def test_the_field_count_check(self) -> None:
        path = self.write("input.csv", THREE_RECORDS)
        with datenbank.Table.load(path, fields=3) as table:
            self.assertEqual(len(table), 3)
        with self.assertRaises(datenbank.FieldCountError) as caught:
            datenbank.Table.load(path, fields=2)
        self.assertEqual(caught.exception.code, -5)
        for fields in (-1, 2**31):
            with self.subTest(fields=fields), self.assertRaises(ValueError):
                datenbank.Table.load(path, fields=fields)

    def test_the_consistency_check(self) -> None:
        path = self.write("input.csv", b"a;b\nc\n")
        with datenbank.Table.load(path) as table:
            self.assertEqual(list(table), [["a", "b"], ["c", None]])
        with self.assertRaises(datenbank.IntegrityError) as caught:
            datenbank.Table.load(path, same_fields=True)
        self.assertEqual(caught.exception.code, -8)
        same = self.write("same.csv", THREE_RECORDS)
        with datenbank.Table.load(same, same_fields=True) as table:
            self.assertEqual(len(table), 3)

    def test_an_empty_file_gives_an_empty_table_that_can_be_filled(self) -> None:
        path = self.write("empty.csv", b"")
        with datenbank.Table.load(path) as table:
            self.assertEqual((len(table), table.field_count, list(table)), (0, 0, []))
        with datenbank.Table.load(path, fields=2) as table:
            self.assertEqual((len(table), table.field_count), (0, 2))
            table.add(["x", "y"])
            self.assertEqual(table.save(), 1)
        self.assertEqual(path.read_bytes(), b"x;y\r\n")

    def test_a_path_object_bytes_and_str_name_the_same_file(self) -> None:
        path = self.write("input.csv", THREE_RECORDS)
        names: Tuple[Union[str, bytes, Path], ...] = (path, str(path), bytes(path))
        for name in names:
            with self.subTest(name=name), datenbank.Table.load(name) as table:
                self.assertEqual(len(table), 3)


class RecordAccessTest(ScratchTestCase):
    def test_positions_count_from_zero_and_from_the_end(self) -> None:
        table = self.load(THREE_RECORDS)
        self.assertEqual(table[0], ["a", "b", "c"])
        self.assertEqual(table[2], ["g", "h", "i"])
        self.assertEqual(table[-1], ["g", "h", "i"])
        self.assertEqual(table[-3], ["a", "b", "c"])
        self.assertEqual(table[1][0], "d")
        self.assertEqual(table[1][-1], "f")
        self.assertEqual(table[1][-3], "d")
        self.assertEqual(table[1][0:2], ["d", "e"])
        self.assertEqual([record.position for record in table[1:]], [1, 2])
        self.assertEqual(table[-1].position, 2)
        self.assertEqual(len(table[0]), 3)

    def test_positions_outside_the_table_raise_index_errors(self) -> None:
        table = self.load(THREE_RECORDS)
        for index in (3, -4, 2**40, -(2**40)):
            with self.subTest(index=index):
                with self.assertRaises(IndexError):
                    table[index]
                with self.assertRaises(datenbank.NoSuchRecordError) as caught:
                    del table[index]
                self.assertEqual(caught.exception.code, -13)
        self.assertEqual(len(table), 3)
        with self.assertRaises(TypeError):
            table["1"]  # type: ignore[call-overload]

    def test_field_indices_outside_the_record_raise_index_errors(self) -> None:
        table = self.load(THREE_RECORDS)
        record = table[0]
        for index in (3, -4):
            with self.subTest(index=index):
                with self.assertRaises(datenbank.NoSuchFieldError) as caught:
                    record[index]
                self.assertIsInstance(caught.exception, IndexError)
                self.assertEqual(caught.exception.code, -11)
                with self.assertRaises(IndexError):
                    record[index] = "x"
        self.assertEqual(list(table), [["a", "b", "c"], ["d", "e", "f"], ["g", "h", "i"]])

    def test_an_empty_table_has_no_position(self) -> None:
        table = datenbank.Table.new(2)
        self.addCleanup(table.close)
        with self.assertRaises(datenbank.NoSuchRecordError) as caught:
            table[0]
        self.assertEqual(caught.exception.code, -10)
        with self.assertRaises(IndexError):
            table[-1]

    def test_views_read_their_own_record_wherever_the_cursor_stands(self) -> None:
        count = 500
        table = self.load(b"".join(b"%d;r%d\n" % (n, n) for n in range(count)))
        views = [table[n] for n in range(count)]
        order = list(range(count)) * 2
        random.Random(7).shuffle(order)
        for n in order:
            self.assertEqual(views[n][0], str(n))
        # Iterating in between moves the cursor to the end; the views still read their record.
        middle = table[250]
        self.assertEqual(middle[1], "r250")
        self.assertEqual(len(list(table)), count)
        self.assertEqual(middle[1], "r250")
        self.assertEqual(table[0][1], "r0")
        self.assertEqual(middle.values(), ["250", "r250"])

    def test_iteration_yields_lists_in_order(self) -> None:
        table = self.load(THREE_RECORDS)
        rows = list(table)
        self.assertTrue(all(type(row) is list for row in rows))
        rows[0][0] = "changed"  # a copy: the table keeps its text
        self.assertEqual(table[0][0], "a")
        self.assertEqual([list(record) for record in table[:]], list(table))

    def test_iteration_goes_by_position_like_a_list(self) -> None:
        table = self.load(THREE_RECORDS)
        seen = []
        for row in table:
            seen.append(row[0])
            if row[0] == "a":
                table.add(["z"])
            if row[0] == "d":
                del table[0]
        # After "d" at position 1 the deletion of position 0 moves "g" to position 1: the next
        # position, 2, holds the record added during the walk.
        self.assertEqual(seen, ["a", "d", "z"])


class EditTest(ScratchTestCase):
    def test_assigning_a_field_replaces_its_text_only(self) -> None:
        table = self.load(THREE_RECORDS)
        table[1][1] = "neu"
        table[-1][-1] = ""
        self.assertEqual(list(table), [["a", "b", "c"], ["d", "neu", "f"], ["g", "h", ""]])
        table.save()
        self.assertEqual(self.read("input.csv"), b"a;b;c\r\nd;neu;f\r\ng;h;\r\n")

    def test_an_absent_field_can_be_set_but_none_is_no_text(self) -> None:
        table = self.load(b"a;b\nc\n")
        table[1][1] = "d"
        self.assertEqual(table[1], ["c", "d"])
        with self.assertRaises(TypeError):
            table[0][0] = None  # type: ignore[assignment]
        with self.assertRaises(TypeError):
            table[0][0] = 5  # type: ignore[assignment]
        self.assertEqual(table[0], ["a", "b"])

    def test_add_appends_a_record_and_returns_its_view(self) -> None:
        table = self.load(THREE_RECORDS)
        empty = table.add()
        self.assertEqual((empty.position, empty.values()), (3, [None, None, None]))
        partial = table.add(["x", None])
        self.assertEqual(partial, ["x", None, None])
        full = table.add(("1", b"2", "3"))
        self.assertEqual((full.position, len(table)), (5, 6))
        full[1] = "zwei"
        self.assertEqual(table[5], ["1", "zwei", "3"])

    def test_add_checks_every_value_before_it_adds_the_record(self) -> None:
        table = self.load(THREE_RECORDS)
        with self.assertRaises(ValueError):
            table.add(["1", "2", "3", "4"])
        with self.assertRaises(UnicodeEncodeError):
            table.add(["1", "\u4e00"])
        with self.assertRaises(ValueError):
            table.add(["1", "a\0b"])
        with self.assertRaises(TypeError):
            table.add([1])  # type: ignore[list-item]
        self.assertEqual(len(table), 3)

    def test_deleting_moves_the_later_records_up(self) -> None:
        table = self.load(b"0\n1\n2\n3\n4\n")
        second = table[1]
        last = table[4]
        del table[0]
        self.assertEqual(list(table), [["1"], ["2"], ["3"], ["4"]])
        # A view stands for its position: it now shows the record that moved there.
        self.assertEqual(second[0], "2")
        with self.assertRaises(datenbank.NoSuchRecordError):
            last[0]
        del table[-1]
        del table[1]
        self.assertEqual(list(table), [["1"], ["3"]])
        del table[0]
        del table[0]
        self.assertEqual((len(table), list(table)), (0, []))
        # A table whose records were all deleted stays open.
        table.add(["neu"])
        self.assertEqual(list(table), [["neu"]])

    def test_new_tables(self) -> None:
        path = self.directory / "new.csv"
        with datenbank.Table.new(3, path, delimiter=",") as table:
            self.assertEqual((len(table), table.field_count, table.path), (0, 3, str(path)))
            table.add(["a", None, "c"])
            table.add()
            self.assertEqual(table.save(), 2)
        self.assertEqual(path.read_bytes(), b"a,,c\r\n,,\r\n")
        with datenbank.Table.new(0) as table:
            table.add()
            self.assertEqual(table[0].values(), [])
            self.assertIsNone(table.path)
        for fields in (-1, 2**31, 1.5, True):
            with self.subTest(fields=fields), self.assertRaises((ValueError, TypeError)):
                datenbank.Table.new(fields)  # type: ignore[arg-type]


class AppendSaveTest(ScratchTestCase):
    def test_append_adds_the_records_and_keeps_the_tables_path(self) -> None:
        table = self.load(b"a;b\n")
        first = table[0]
        self.assertEqual(table.append(self.write("more.csv", b"c;d\ne;f\n")), 2)
        self.assertEqual(list(table), [["a", "b"], ["c", "d"], ["e", "f"]])
        self.assertEqual(first, ["a", "b"])
        self.assertEqual(table.path, str(self.directory / "input.csv"))
        table.save()
        self.assertEqual(self.read("input.csv"), b"a;b\r\nc;d\r\ne;f\r\n")
        self.assertEqual(self.read("more.csv"), b"c;d\ne;f\n")

    def test_a_refused_append_leaves_table_and_path_alone(self) -> None:
        table = self.load(b"a;b\n")
        with self.assertRaises(datenbank.FieldCountError):
            table.append(self.write("three.csv", b"1;2;3\n"))
        with self.assertRaises(datenbank.FieldCountError):
            table.append(self.write("two.csv", b"1;2\n"), fields=3)
        with self.assertRaises(datenbank.IntegrityError):
            table.append(self.write("uneven.csv", b"1;2\n3\n"), same_fields=True)
        with self.assertRaises(datenbank.DatenbankFileNotFoundError):
            table.append(self.directory / "missing.csv")
        self.assertEqual(list(table), [["a", "b"]])
        self.assertEqual(table.path, str(self.directory / "input.csv"))

    def test_append_to_a_table_without_records_takes_the_files_fields(self) -> None:
        with datenbank.Table.new(0) as table:
            self.assertEqual(table.append(self.write("more.csv", b"1;2;3\n")), 1)
            self.assertEqual((table.field_count, list(table)), (3, [["1", "2", "3"]]))
            self.assertIsNone(table.path)

    def test_save_under_a_new_name_makes_it_the_tables_path(self) -> None:
        table = self.load(THREE_RECORDS)
        copy = self.directory / "copy.csv"
        self.assertEqual(table.save(copy), 3)
        self.assertEqual(table.path, str(copy))
        table[0][0] = "x"
        table.save()
        self.assertEqual(copy.read_bytes(), b"x;b;c\r\nd;e;f\r\ng;h;i\r\n")
        self.assertEqual(self.read("input.csv"), THREE_RECORDS)

    def test_a_failed_save_keeps_the_tables_path(self) -> None:
        for start in (THREE_RECORDS, None):
            with self.subTest(loaded=start is not None):
                table = self.load(start) if start else datenbank.Table.new(1)
                before = table.path
                with self.assertRaises(datenbank.DatenbankError):
                    table.save(self.directory / "no such directory" / "x.csv")
                self.assertEqual(table.path, before)
                table.close()

    def test_file_names_are_the_operating_systems_names(self) -> None:
        # A str name is what open() would use; a bytes name passes as it is.
        table = self.load(b"a\n")
        name = "M\u00fcller \u20ac.csv"
        table.save(self.directory / name)
        self.assertIn(name, os.listdir(self.directory))
        self.assertEqual(table.path, str(self.directory / name))
        if sys.platform != "win32":
            raw_name = bytes(self.directory) + b"/\xe4\xff.csv"
            table.save(raw_name)
            self.assertIn(b"\xe4\xff.csv", os.listdir(bytes(self.directory)))
            self.assertEqual(os.fsencode(table.path or ""), raw_name)
            with datenbank.Table.load(raw_name) as again:
                self.assertEqual(list(again), [["a"]])

    def test_saving_leaves_the_views_and_records_alone(self) -> None:
        table = self.load(b"a\nb\nc\n")
        middle = table[1]
        middle[0] = "B"
        table.save()
        self.assertEqual((middle[0], list(table)), ("B", [["a"], ["B"], ["c"]]))


class IndependenceTest(ScratchTestCase):
    def test_two_tables_do_not_share_records_cursor_or_path(self) -> None:
        one = self.load(b"1\n2\n3\n")
        other_path = self.write("other.csv", b"x;y\n")
        with datenbank.Table.load(other_path) as other:
            view = one[1]
            self.assertEqual(other[0][1], "y")
            other.add(["p", "q"])
            one[2][0] = "drei"
            self.assertEqual(view[0], "2")
            self.assertEqual(list(one), [["1"], ["2"], ["drei"]])
            self.assertEqual(list(other), [["x", "y"], ["p", "q"]])
            self.assertEqual(one.path, str(self.directory / "input.csv"))
            self.assertEqual(other.path, str(other_path))
        self.assertTrue(other.closed)
        self.assertEqual(list(one), [["1"], ["2"], ["drei"]])

    def test_a_table_made_after_another_was_closed_starts_empty(self) -> None:
        first = self.load(THREE_RECORDS, delimiter=b";")
        first.close()
        with datenbank.Table.new(2) as second:
            self.assertEqual((len(second), second.field_count, second.path), (0, 2, None))
            self.assertEqual(second.delimiter, ";")
        with datenbank.Table.new(1, delimiter="|") as third:
            self.assertEqual(third.delimiter, "|")

    def test_threads_sharing_one_table_take_turns(self) -> None:
        count = 200
        table = self.load(b"".join(b"%d\n" % n for n in range(count)))
        failures: List[object] = []

        def read(seed: int) -> None:
            generator = random.Random(seed)
            try:
                for _ in range(300):
                    n = generator.randrange(count)
                    value = table[n][0]
                    if value != str(n):
                        failures.append((n, value))
            except Exception as error:  # an exception would end the thread unseen
                failures.append(error)

        # Switching threads as often as possible makes interleaved cursor moves likely.
        interval = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)
        self.addCleanup(sys.setswitchinterval, interval)
        threads = [threading.Thread(target=read, args=(seed,)) for seed in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])
