"""peer_python.py csv|pandas FILE: loads FILE with Python's csv module or with pandas and prints
the load time, the process's VmRSS before and VmHWM after the load, and what it loaded, as one
line of key=value pairs (the form of the other peers of bench/compare.sh).

Run it with the system interpreter, /usr/bin/python3, whose pandas comes from Debian. The file is
read as Latin-1, which maps every byte to one character, so lengths in characters are bytes."""

import csv
import sys
import time


def status_kb(key):
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def load_csv(path):
    csv.field_size_limit(sys.maxsize)  # the default, 128 KiB, refuses the long lines of shape D
    with open(path, newline="", encoding="latin-1") as file:
        return list(csv.reader(file, delimiter=";", quoting=csv.QUOTE_NONE))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("csv", "pandas"):
        sys.exit("usage: peer_python.py csv|pandas FILE")
    kind, path = sys.argv[1], sys.argv[2]
    if kind == "pandas":
        import pandas  # pylint: disable=import-outside-toplevel

        def load(name):
            return pandas.read_csv(name, sep=";", header=None, dtype=str, quoting=csv.QUOTE_NONE,
                                   keep_default_na=False, encoding="latin-1")
    else:
        load = load_csv
    base_kb = status_kb("VmRSS")
    start = time.perf_counter()
    table = load(path)
    seconds = time.perf_counter() - start
    hwm_kb = status_kb("VmHWM")
    if kind == "pandas":
        records, fields = table.shape
        field_bytes = int(sum(table[column].str.len().sum() for column in table.columns))
    else:
        records = len(table)
        fields = max((len(row) for row in table), default=0)
        field_bytes = sum(len(field) for row in table for field in row)
    print(f"seconds={seconds:.6f} base_kb={base_kb} hwm_kb={hwm_kb} records={records} "
          f"fields={fields} field_bytes={field_bytes}")


if __name__ == "__main__":
    main()
