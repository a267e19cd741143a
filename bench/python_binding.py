#!/usr/bin/env python3
"""The Python binding against Python's csv module: reading whole tables, positions, memory.

    bench/python_binding.py [--build-dir DIR] [--shapes A,B,C] [--rounds N] [--pure]
                            [--work-dir DIR] [--out FILE]

Every figure is the median of --rounds runs (default 5), each in a fresh interpreter, taken
round robin over the contenders so that a change in the machine's load hits them alike:

- read: ``Table.load(f)`` plus ``list(table)`` against
  ``list(csv.reader(open(f, newline="", encoding="cp1252"), delimiter=";"))``, and the same with
  the cycle collector off (the binding's row lists are not tracked by it, csv's are: this shows
  how much of the difference that is); with --pure also the binding through ctypes alone
  (DATENBANK_PURE_PYTHON=1);
- position: ``table[i][0]`` on shape C (5,000,000 records) for positions across the table,
  the cursor standing on the first record before each; the worst position is reported;
- memory: the peak of Python's allocations (tracemalloc) while ``list(table)`` runs, against
  what the returned lists hold at the end, and the peak of ``for row in table: pass``.

The shapes are those of bench/compare.py at 100 MB, made by bench/peers/make_shape.cpp (compiled
here with g++). The library and the extension module come from --build-dir (default build/dev:
``cmake --preset dev && cmake --build --preset dev``). The interpreter is the one running this
script; it must be the one the extension was built for.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from typing import Dict, List

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SHAPES = {
    "A": ("1,000,000 lines x 10 fields of 3-15 B", ["1000000", "10", "3", "15", "101"]),
    "B": ("100,000 lines x 4 fields of 200-300 B", ["100000", "4", "200", "300", "202"]),
    "C": ("5,000,000 lines x 2 fields of 1-8 B", ["5000000", "2", "1", "8", "303"]),
}

# What a fresh interpreter runs for one measurement; it prints key=value lines.
CHILD = {
    "datenbank": """
import time, datenbank
start = time.perf_counter()
table = datenbank.Table.load(PATH)
rows = list(table)
print("seconds=%.4f" % (time.perf_counter() - start))
print("rows=%d compiled=%d" % (len(rows), datenbank.COMPILED))
""",
    "csv": """
import csv, gc, time
if GC_OFF:
    gc.disable()
start = time.perf_counter()
with open(PATH, newline="", encoding="cp1252") as file:
    rows = list(csv.reader(file, delimiter=";"))
print("seconds=%.4f" % (time.perf_counter() - start))
print("rows=%d" % len(rows))
""",
    "position": """
import time, datenbank
table = datenbank.Table.load(PATH)
count = len(table)
worst = 0.0
for k in range(9):
    position = min(count - 1, k * count // 8)
    table[0][0]
    start = time.perf_counter()
    table[position][0]
    took = time.perf_counter() - start
    if took > worst:
        worst, at = took, position
print("seconds=%.4f" % worst)
print("position=%d records=%d" % (at, count))
""",
    "memory": """
import gc, sys, tracemalloc, datenbank
table = datenbank.Table.load(PATH)
tracemalloc.start()
for row in table:
    pass
streamed = tracemalloc.get_traced_memory()[1]
tracemalloc.reset_peak()
rows = list(table)
held, peak = tracemalloc.get_traced_memory()
print("seconds=0")
print("peak_mb=%.1f held_mb=%.1f streamed_mb=%.2f" % (peak / 1e6, held / 1e6, streamed / 1e6))
""",
}


def measure(contender: str, path: str, env: Dict[str, str]) -> Dict[str, str]:
    base, _, variant = contender.partition(":")
    code = CHILD[base].replace("PATH", repr(path)).replace("GC_OFF", str(variant == "nogc"))
    done = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=False
    )
    if done.returncode != 0:
        raise SystemExit(f"{contender} on {path} failed:\n{done.stderr}")
    result: Dict[str, str] = {}
    for line in done.stdout.split():
        key, _, value = line.partition("=")
        result[key] = value
    return result


def load_average() -> str:
    with open("/proc/loadavg", encoding="ascii") as file:
        return " ".join(file.read().split()[:3])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "dev"))
    parser.add_argument("--shapes", default="A,B,C")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--pure", action="store_true", help="also the ctypes path (slow)")
    parser.add_argument("--work-dir", help="where the inputs go and stay (default: removed)")
    parser.add_argument("--out", help="also write the report to this file")
    options = parser.parse_args()

    build = os.path.abspath(options.build_dir)
    library = os.path.join(build, "libdatenbank.so")
    extension = os.path.join(build, "bindings", "python_extension")
    if not os.path.isfile(library) or not os.path.isdir(extension):
        raise SystemExit(f"no library or extension module in {build}: build it first")
    env = dict(os.environ)
    env["DATENBANK_LIBRARY"] = library
    env["PYTHONPATH"] = os.pathsep.join([os.path.join(REPO, "bindings", "python"), extension])
    env.pop("DATENBANK_PURE_PYTHON", None)
    pure_env = dict(env, DATENBANK_PURE_PYTHON="1")

    work = options.work_dir or tempfile.mkdtemp(prefix="datenbank-pybench-")
    os.makedirs(work, exist_ok=True)
    generator = os.path.join(work, "make_shape")
    if not os.path.exists(generator):
        subprocess.run(["g++", "-O2", "-std=c++17", "-o", generator,
                        os.path.join(HERE, "peers", "make_shape.cpp")], check=True)

    command = "bench/python_binding.py " + " ".join(sys.argv[1:])
    lines = [f"Command: `{command.strip()}`; {options.rounds} rounds, interpreter "
             f"{sys.executable} {sys.version.split()[0]}.", ""]
    try:
        for shape in options.shapes.split(","):
            title, arguments = SHAPES[shape]
            path = os.path.join(work, f"{shape}.csv")
            if not os.path.exists(path):
                lines_, fields, low, high, seed = arguments
                subprocess.run([generator, "--lines", lines_, "--fields", fields, "--min", low,
                                "--max", high, "--seed", seed, "--out", path],
                               check=True, capture_output=True)
            contenders = [("datenbank", env, "datenbank: load + list(table)"),
                          ("csv", env, "csv: list(csv.reader(...))"),
                          ("csv:nogc", env, "csv, gc.disable() first")]
            if options.pure:
                contenders.append(("datenbank", pure_env, "datenbank, ctypes only"))
            if shape == "C":
                contenders.append(("position", env, "datenbank: table[i][0], worst i"))
            if shape in ("A", "C"):
                contenders.append(("memory", env, "datenbank: memory of list(table)"))
            times: Dict[str, List[float]] = {label: [] for _, _, label in contenders}
            notes: Dict[str, str] = {}
            loads: List[str] = []
            for _ in range(options.rounds):
                loads.append(load_average())
                for contender, contender_env, label in contenders:
                    result = measure(contender, path, contender_env)
                    times[label].append(float(result.pop("seconds")))
                    notes[label] = " ".join(f"{k}={v}" for k, v in result.items())
            size = os.path.getsize(path) / 1e6
            lines += [f"Shape {shape}: {title}, {size:.1f} MB; load average before each round: "
                      + ", ".join(loads), "",
                      "| contender | median s | min s | max s | last run says |",
                      "|---|---:|---:|---:|---|"]
            for label, values in times.items():
                if label.startswith("datenbank: memory"):  # no time, only its figures
                    lines.append(f"| {label} | - | - | - | {notes[label]} |")
                    continue
                lines.append(f"| {label} | {statistics.median(values):.3f} | {min(values):.3f} | "
                             f"{max(values):.3f} | {notes[label]} |")
            base = statistics.median(times["csv: list(csv.reader(...))"])
            ours = statistics.median(times["datenbank: load + list(table)"])
            unbound = statistics.median(times["csv, gc.disable() first"])
            lines += ["", f"csv / datenbank: {base / ours:.2f} x; csv without the cycle "
                      f"collector / datenbank: {unbound / ours:.2f} x", ""]
            print("\n".join(lines[-len(contenders) - 6:]), flush=True)
    finally:
        if not options.work_dir:
            shutil.rmtree(work, ignore_errors=True)
    report = "\n".join(lines)
    print("\n" + report)
    if options.out:
        with open(options.out, "w", encoding="utf-8") as file:
            file.write(report + "\n")


if __name__ == "__main__":
    main()
