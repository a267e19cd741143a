#!/usr/bin/env python3
"""Benchmark of the datenbank command-line tool against its targets; run by hand, never as a test.

    bench/cli_bench.py [--build build/dev] [--work DIR] [--runs 3] [--keep]

Generates shapes A (lines of ten fields of 3-15 random printable bytes, ';'-separated, CR LF) and
B (four fields of 200-300 bytes) of bench/compare.py with bench/peers/make_shape.cpp, A at 200 and
100 MB, B at 200 MB, then measures, each in a fresh process and round robin over the contenders,
--runs times:

  1. streaming, 200 MB of A and of B: `datenbank check FILE` (load only) against
     `datenbank show FILE | head` and `datenbank show --raw FILE | head`: the time until show's
     first line arrives and the peak memory (ru_maxrss) of each process. Targets: first line
     within 1.1 x of check's time, peak at most 1.1 x check's.
  2. conversion, 100 MB: `datenbank export FILE --to csv` against `mlr --icsv --ifs ';' --ocsv cat`
     and Python's csv reader and writer (/usr/bin/python3), all writing to /dev/null.
     Target: export at least 2 x faster than each. The export's bytes are checked once against
     Python's (the same RFC 4180 rules give the same bytes on this shape).

Prints the load average (os.getloadavg) before each round and a table of medians and minima with
the verdict per target. Needs a C++ compiler for the generator and, for the peers, miller
(Debian: miller; tools/install_deps.sh --bench).
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PYTHON_PEER = ("import csv, sys\n"
               "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
               "    csv.writer(sys.stdout).writerows(csv.reader(f, delimiter=';'))\n")


def log(text):
    print(text, file=sys.stderr, flush=True)


def load_average():
    return "load average %.2f, %.2f, %.2f" % os.getloadavg()


# bench/compare.py's shapes A and B: lines at 100 MB, fields per line, field lengths, seed.
SHAPES = {"A": (1_000_000, 10, 3, 15, 101), "B": (100_000, 4, 200, 300, 202)}


def make_shape(work, shape, megabytes, name):
    """A shape of bench/compare.py at a size; the generator is built once."""
    lines, fields, shortest, longest, seed = SHAPES[shape]
    lines = lines * megabytes // 100
    path = os.path.join(work, name)
    if os.path.exists(path):
        return path
    generator = os.path.join(work, "make_shape")
    if not os.path.exists(generator):
        compiler = os.environ.get("CXX") or shutil.which("c++") or "g++"
        subprocess.run([compiler, "-O2", "-std=c++17", "-I", os.path.join(HERE, "peers"),
                        os.path.join(HERE, "peers", "make_shape.cpp"), "-o", generator],
                       check=True)
    subprocess.run([generator, "--lines", str(lines), "--fields", str(fields), "--min",
                    str(shortest), "--max", str(longest), "--seed", str(seed), "--out", path],
                   check=True, stdout=subprocess.DEVNULL)
    return path


def timed(argv, stdout=subprocess.DEVNULL):
    """Wall time and peak memory (KiB) of one process run to its end."""
    start = time.monotonic()
    process = subprocess.Popen(argv, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        raise RuntimeError(f"{argv[0]} exit {process.returncode}: {error[-300:]}")
    return seconds, usage.ru_maxrss


def first_line(argv):
    """Time until the first line arrives on a pipe, and the process's peak memory (KiB) once the
    reader has gone away, as `| head -1` does."""
    start = time.monotonic()
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    line = process.stdout.readline()
    seconds = time.monotonic() - start
    process.stdout.close()  # the next write ends the process with SIGPIPE
    _, _, usage = os.wait4(process.pid, 0)
    if not line:
        raise RuntimeError(f"{argv[0]} printed nothing")
    return seconds, usage.ru_maxrss


def rounds(contenders, runs):
    """contenders: name -> function returning (seconds, kib). Round robin, runs times."""
    results = {name: [] for name in contenders}
    for run in range(runs):
        log(f"round {run + 1}/{runs}, {load_average()}")
        for name, measure in contenders.items():
            results[name].append(measure())
            log(f"  {name}: {results[name][-1][0]:.3f} s, {results[name][-1][1] / 1024:.0f} MiB")
    return results


def summary(results):
    rows = {}
    for name, values in results.items():
        seconds = [v[0] for v in values]
        peaks = [v[1] for v in values]
        rows[name] = (statistics.median(seconds), min(seconds), max(peaks))
    return rows


def print_table(title, rows):
    print(f"\n{title}\n")
    print("| contender | median s | min s | peak MiB |")
    print("|---|---:|---:|---:|")
    for name, (median, low, peak) in rows.items():
        print(f"| {name} | {median:.3f} | {low:.3f} | {peak / 1024:.0f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "dev"))
    parser.add_argument("--work", default=None, help="where the shapes go (default: a scratch "
                        "directory in TMPDIR, removed unless --keep)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", action="store_true")
    arguments = parser.parse_args()
    tool = os.path.join(arguments.build, "tools", "datenbank")
    if not os.access(tool, os.X_OK):
        sys.exit(f"no tool at {tool}: build it first (cmake --build --preset dev)")
    work = arguments.work or tempfile.mkdtemp(prefix="datenbank-cli-bench-")
    os.makedirs(work, exist_ok=True)
    verdicts = []
    try:
        log(f"generating shape A at 200 and 100 MB and shape B at 200 MB in {work}")
        big = make_shape(work, "A", 200, "A200.csv")
        hundred = make_shape(work, "A", 100, "A100.csv")
        long_fields = make_shape(work, "B", 200, "B200.csv")
        print(f"datenbank cli benchmark, {time.strftime('%Y-%m-%d %H:%M:%S %Z')}, "
              f"{os.cpu_count()} cores, {load_average()} at the start")

        for shape, path in (("A", big), ("B", long_fields)):
            check_name = f"check ({shape}, 200 MB)"
            shows = [f"show \\| head, first line ({shape}, 200 MB)",
                     f"show --raw \\| head, first line ({shape}, 200 MB)"]
            results = rounds({
                check_name: lambda p=path: timed([tool, "check", p]),
                shows[0]: lambda p=path: first_line([tool, "show", p]),
                shows[1]: lambda p=path: first_line([tool, "show", "--raw", p]),
            }, arguments.runs)
            rows = summary(results)
            print_table(f"1{shape.lower()}. Streaming: shape {shape}, 200 MB", rows)
            check = rows[check_name]
            for name in shows:
                time_ratio = rows[name][0] / check[0]
                memory_ratio = rows[name][2] / check[2]
                verdicts.append(f"{name.replace(chr(92), '')}: time {time_ratio:.2f} x check's "
                                f"(target <= 1.1): "
                                f"{'met' if time_ratio <= 1.1 else 'NOT met'}; peak memory "
                                f"{memory_ratio:.2f} x (target <= 1.1): "
                                f"{'met' if memory_ratio <= 1.1 else 'NOT met'}")

        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        with tempfile.TemporaryDirectory(dir=work) as scratch:
            ours = os.path.join(scratch, "ours.csv")
            theirs = os.path.join(scratch, "python.csv")
            with open(ours, "wb") as out:
                timed([tool, "export", hundred, "--to", "csv"], stdout=out)
            with open(theirs, "wb") as out:
                timed([python, "-c", PYTHON_PEER, hundred], stdout=out)
            digests = [hashlib.sha256(open(p, "rb").read()).hexdigest() for p in (ours, theirs)]
            if digests[0] != digests[1]:
                raise RuntimeError("export --to csv and Python's csv module wrote different bytes")
            print("\nexport --to csv wrote the same bytes as Python's csv module "
                  f"(sha256 {digests[0][:16]}...)")
        contenders = {
            "datenbank export --to csv": lambda: timed([tool, "export", hundred, "--to", "csv"]),
            "python3 csv reader + writer": lambda: timed([python, "-c", PYTHON_PEER, hundred]),
        }
        mlr = shutil.which("mlr")
        if mlr:
            contenders["mlr --icsv --ifs ';' --ocsv cat"] = lambda: timed(
                [mlr, "--icsv", "--ifs", ";", "--ocsv", "cat", hundred])
        else:
            verdicts.append("miller is not installed (Debian: miller): its comparison is left out")
        rows = summary(rounds(contenders, arguments.runs))
        print_table("2. Conversion: shape A, 100 MB, to /dev/null", rows)
        ours = rows["datenbank export --to csv"][0]
        for name, (median, _, _) in rows.items():
            if name != "datenbank export --to csv":
                verdicts.append(f"export --to csv is {median / ours:.2f} x faster than {name} "
                                f"(target >= 2): {'met' if median / ours >= 2 else 'NOT met'}")
        print(f"\n{load_average()} at the end\n")
        for verdict in verdicts:
            print(f"- {verdict}")
    finally:
        if not arguments.keep and arguments.work is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
