"""The peer comparison behind bench/compare.sh (run that; it installs and builds what this needs).

Generates the input shapes, then measures, round robin over the contenders and in a fresh
process for every measurement, the module (driven through datenbank_bench as a host drives it) and
its peers: fast-cpp-csv-parser, libcsv, Python's csv module, pandas, SQLite's .import, a plain
std::ofstream writer, and the scan floor. Prints one Markdown table per shape.

Only the standard library is used; peers run with the system interpreter /usr/bin/python3.
"""

import argparse
import datetime
import filecmp
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

# Lines, fields per line and field length at --size-mb 100; --size-mb scales the line counts.
SHAPES = {
    "A": {"lines": 1_000_000, "fields": 10, "min": 3, "max": 15, "seed": 101},
    "B": {"lines": 100_000, "fields": 4, "min": 200, "max": 300, "seed": 202},
    "C": {"lines": 5_000_000, "fields": 2, "min": 1, "max": 8, "seed": 303},
    # Long lines: 500 to 700 KiB each, 1.2 GB at --size-mb 100.
    "D": {"lines": 2_000, "fields": 1, "min": 500 * 1024, "max": 700 * 1024, "seed": 404},
}

SYSTEM_PYTHON = "/usr/bin/python3"
TIMEOUT_SECONDS = 1800
HERE = os.path.dirname(os.path.abspath(__file__))


def log(text):
    print(text, file=sys.stderr, flush=True)


def parse_pairs(text):
    """The last line of key=value pairs a measuring program printed."""
    lines = [line for line in text.splitlines() if "=" in line]
    if not lines:
        raise ValueError("no result line in its output")
    return dict(pair.split("=", 1) for pair in lines[-1].split())


class Contender:
    """One kind of measurement: what to run, and what its result must show."""

    def __init__(self, key, label, operation, argv, parse=parse_pairs, check_output=None,
                 stdin=None):
        self.key = key
        self.label = label
        self.operation = operation  # load, read, append, save or floor
        self.argv = argv  # shape -> argument list
        self.parse = parse
        self.check_output = check_output  # shape -> path of a file that must equal the input
        self.stdin = stdin  # shape -> text for the program's standard input

    def run(self, shape, compare):
        done = subprocess.run(self.argv(shape), capture_output=True, text=True,
                              timeout=TIMEOUT_SECONDS, check=False,
                              input=self.stdin(shape) if self.stdin else None,
                              stdin=None if self.stdin else subprocess.DEVNULL)
        if done.returncode != 0:
            raise RuntimeError(f"exit {done.returncode}: {done.stderr.strip()[-300:]}")
        result = self.parse(done.stdout)
        check_result(self, shape, result)
        if compare and self.check_output is not None:
            written = self.check_output(shape)
            if not filecmp.cmp(shape["path"], written, shallow=False):
                raise RuntimeError(f"{written} differs from the input")
        return result


def check_result(contender, shape, result):
    """Every load must hold the generated records and field bytes; every save the file's bytes."""
    expected = {}
    if contender.operation in ("load", "read", "append", "save", "close", "edit"):
        expected["records"] = shape["lines"]
        if contender.key != "sqlite":  # .import knows no field count; its field bytes tell
            expected["fields"] = shape["fields"]
    if contender.operation == "read" or "field_bytes" in result:
        expected["field_bytes"] = shape["field_bytes"]
    if "out_bytes" in result:
        expected["out_bytes"] = shape["file_bytes"]
    if contender.operation == "floor":
        expected["bytes"] = 2 * shape["file_bytes"]
    for key, value in expected.items():
        if int(result.get(key, -1)) != value:
            raise RuntimeError(f"{key}={result.get(key)} where {value} was expected")


def sqlite_script(shape):
    columns = ",".join(f"c{i + 1}" for i in range(shape["fields"]))
    lengths = "+".join(f"length(c{i + 1})" for i in range(shape["fields"]))
    # The table exists before .import, so the first line is a record and not column names. The
    # memory and clock readings run in a shell whose parent is sqlite3 itself.
    script = "\n".join([
        ".bail on",
        ".mode csv",
        ".separator ;",
        f"CREATE TABLE t({columns});",
        ".system grep -e VmRSS -e VmHWM /proc/$PPID/status",
        ".system date +start=%s.%N",
        f".import {shape['path']} t",
        ".system date +end=%s.%N",
        ".system grep -e VmRSS -e VmHWM /proc/$PPID/status",
        ".mode list",
        ".separator ' '",
        f"SELECT 'records=' || count(*), 'field_bytes=' || total({lengths}) FROM t;",
        "",
    ])
    return script


def parse_sqlite(text):
    values = {}
    rss = []
    for line in text.splitlines():
        if line.startswith(("VmRSS:", "VmHWM:")):
            rss.append((line.split(":")[0], int(line.split()[1])))
        else:
            for pair in line.split():
                if "=" in pair:
                    key, value = pair.split("=", 1)
                    values[key] = value
    before = dict(rss[:2])
    after = dict(rss[2:])
    return {
        "seconds": float(values["end"]) - float(values["start"]),
        "base_kb": before["VmRSS"],
        "hwm_kb": after["VmHWM"],
        "records": values["records"],
        "field_bytes": str(int(float(values["field_bytes"]))),
    }


def make_contenders(build, library, work, baseline=None):
    bench = os.path.join(build, "bench", "datenbank_bench")
    peers = os.path.join(build, "bench", "peers")
    python_peer = os.path.join(HERE, "peers", "peer_python.py")

    def module(mode, lib=library):
        def argv(shape):
            return [bench, "--mode", mode, "--file", shape["path"], "--library", lib,
                    "--out", os.path.join(work, f"module_{shape['name']}.out")]
        return argv

    def out(name):
        return lambda shape: os.path.join(work, f"{name}_{shape['name']}.out")

    sqlite = Contender("sqlite", "sqlite3 `.import`, in-memory database", "load",
                       lambda s: ["sqlite3", "-batch", ":memory:"], parse=parse_sqlite,
                       stdin=sqlite_script)
    compared = [] if baseline is None else [
        Contender("baseline", f"baseline `LoadFile` (`{baseline}`)", "load",
                  module("load", baseline)),
        Contender("baseline_append", f"baseline `AppendFile` (`{baseline}`)", "append",
                  module("append", baseline)),
    ]
    return [Contender("module", "**module** `LoadFile`", "load", module("load"))] + compared + [
        Contender("fccp", "fast-cpp-csv-parser (`io::CSVReader`)", "load",
                  lambda s: [os.path.join(peers, "bench_peer_fccp"), s["path"], str(s["fields"])]),
        Contender("libcsv", "libcsv (`csv_parse`)", "load",
                  lambda s: [os.path.join(peers, "bench_peer_libcsv"), s["path"]]),
        Contender("pycsv", "Python `csv.reader`", "load",
                  lambda s: [SYSTEM_PYTHON, python_peer, "csv", s["path"]]),
        Contender("pandas", "pandas `read_csv`", "load",
                  lambda s: [SYSTEM_PYTHON, python_peer, "pandas", s["path"]]),
        sqlite,
        Contender("scan", "scan floor: two passes of `read()` x 4000 B", "floor",
                  lambda s: [os.path.join(peers, "bench_scan_floor"), s["path"]]),
        Contender("scan_count", "scan floor, counting LF and `;` in a byte loop", "floor",
                  lambda s: [os.path.join(peers, "bench_scan_floor"), s["path"], "--count"]),
        Contender("append", "**module** `AppendFile` of the same file onto the loaded table",
                  "append", module("append")),
        Contender("read", "**module** `GetField`, every field once (MB/s of field text)", "read",
                  module("read")),
        Contender("close", "**module** `CloseTable` of the loaded table", "close",
                  module("close")),
        Contender("edit", "**module** edits and cursor moves, 2,000,000 steps after the load",
                  "edit", module("edit")),
        Contender("save", "**module** `SaveFile`", "save", module("save"),
                  check_output=out("module")),
        Contender("ofstream", "`std::ofstream` writer of `vector<vector<string>>`", "save",
                  lambda s: [os.path.join(peers, "bench_peer_ofstream"), s["path"],
                             out("ofstream")(s)],
                  check_output=out("ofstream")),
        Contender("ofstream_sync", "`std::ofstream` writer, then `fsync`", "save",
                  lambda s: [os.path.join(peers, "bench_peer_ofstream"), s["path"],
                             out("ofstream_sync")(s), "--fsync"]),
    ]


def generate(build, work, name, size_mb):
    base = SHAPES[name]
    lines = max(1, round(base["lines"] * size_mb / 100))
    path = os.path.join(work, f"shape_{name}.csv")
    done = subprocess.run(
        [os.path.join(build, "bench", "peers", "bench_make_shape"), "--lines", str(lines),
         "--fields", str(base["fields"]), "--min", str(base["min"]), "--max", str(base["max"]),
         "--seed", str(base["seed"]), "--out", path],
        capture_output=True, text=True, check=True)
    figures = {key: int(value) for key, value in parse_pairs(done.stdout).items()}
    return {"name": name, "path": path, "min": base["min"], "max": base["max"], **figures}


def median(values):
    return statistics.median(values) if values else None


def command_output(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def machine_lines(library):
    cpu = ""
    try:
        with open("/proc/cpuinfo", encoding="ascii", errors="replace") as info:
            cpu = next((line.split(":", 1)[1].strip() for line in info
                        if line.startswith("model name")), "")
    except OSError:
        pass
    commit = command_output(["git", "-C", HERE, "describe", "--always", "--dirty"])
    versions = command_output(["dpkg-query", "-W", "-f=${Package} ${Version}, ",
                               "libfccp-dev", "libcsv-dev", "python3-pandas", "sqlite3"])
    python = command_output([SYSTEM_PYTHON, "--version"])
    return [
        f"- Machine: {os.cpu_count()} cores, {cpu}, Linux {os.uname().release}",
        f"- Library: `{library}` (work tree at {commit or 'unknown commit'})",
        f"- Peers: {versions.rstrip(', ')}; {python}",
    ]


def load_average():
    return " ".join(f"{value:.2f}" for value in os.getloadavg())


def fmt(value, digits=2):
    return "-" if value is None else f"{value:.{digits}f}"


def shape_table(shape, contenders, results, rapidcsv_note):
    """One Markdown table for one shape, and the lines that sum it up."""
    mb = shape["file_bytes"] / 1e6
    title = (f"### Shape {shape['name']}: {shape['lines']:,} lines x {shape['fields']} fields of "
             f"{shape['min']}-{shape['max']} B, {mb:.1f} MB")
    seconds = {c.key: median([r["seconds"] for r in results[c.key]]) for c in contenders}
    peak = {}
    for c in contenders:
        peaks = [(int(r["hwm_kb"]) - int(r["base_kb"])) * 1024 for r in results[c.key]
                 if c.operation == "load" and "hwm_kb" in r]
        peak[c.key] = median(peaks)
    module_load = seconds.get("module")
    module_peak = peak.get("module")
    module_save = seconds.get("save")
    floor = shape["floor_bytes"]
    rows = ["| contender | median s | MB/s | peak MB | peak x file | time x module | "
            "peak x module |", "|---|---:|---:|---:|---:|---:|---:|"]

    def row(contender, reference_seconds, reference_peak):
        s = seconds[contender.key]
        errors = results.get(contender.key + "!", [])
        if s is None:
            reason = errors[0] if errors else "not run"
            return f"| {contender.label} | failed: {reason} | | | | | |"
        volume = shape["field_bytes"] if contender.operation == "read" else shape["file_bytes"]
        rate = volume / 1e6 / s
        rate_text = f"{rate:.1f}"
        if contender.operation == "read":
            rate_text += f" ({rate / 1000:.2f} GB/s)"
        p = peak[contender.key]
        ratio = s / reference_seconds if reference_seconds else None
        peak_ratio = p / reference_peak if p is not None and reference_peak else None
        note = f" ({len(errors)} failed runs)" if errors else ""
        return (f"| {contender.label}{note} | {s:.3f} | {rate_text} | "
                f"{fmt(p / 1e6 if p is not None else None, 1)} | "
                f"{fmt(p / shape['file_bytes'] if p is not None else None)} | {fmt(ratio)} | "
                f"{fmt(peak_ratio)} |")

    by_key = {c.key: c for c in contenders}
    for c in contenders:
        if c.operation in ("load", "floor"):
            rows.append(row(c, module_load, module_peak if c.operation == "load" else None))
        if c.key == "sqlite":
            rows.append(f"| rapidcsv | {rapidcsv_note} | | | | | |")
    rows.append(f"| data-model floor: node of 3 pointers, {shape['fields']} field pointers, texts "
                f"with NUL | | | {floor / 1e6:.1f} | {floor / shape['file_bytes']:.2f} | | "
                f"{fmt(floor / module_peak if module_peak else None)} |")
    for key in ("append", "baseline_append"):
        if key in by_key:
            rows.append(row(by_key[key], module_load, None))
    if "read" in by_key:
        rows.append(row(by_key["read"], None, None))
    if "close" in by_key:
        rows.append(row(by_key["close"], None, None))
    for key in ("save", "ofstream", "ofstream_sync"):
        if key in by_key:
            rows.append(row(by_key[key], module_save, None))

    summary = []
    peers = [seconds[k] for k in ("fccp", "libcsv", "pycsv", "pandas", "sqlite")
             if seconds.get(k) is not None]
    if module_load and peers:
        best = min(peers)
        summary.append(f"- Load: the fastest peer takes {best / module_load:.2f} x the module's "
                       f"time (module {module_load:.3f} s, fastest peer {best:.3f} s).")
    floors = [(seconds.get(k), text) for k, text in (("scan", "the two bare read passes"),
                                                        ("scan_count", "the counting passes"))]
    floors = [f"{module_load / s:.2f} x {text}" for s, text in floors if s and module_load]
    if floors:
        summary.append(f"- Load against the scan floor: the module takes {' and '.join(floors)}.")
    if seconds.get("read"):
        summary.append(f"- GetField: {shape['field_bytes'] / 1e9 / seconds['read']:.2f} GB/s of "
                       f"field text ({shape['field_bytes'] / 1e6:.1f} MB in "
                       f"{seconds['read']:.3f} s).")
    if module_save and seconds.get("ofstream"):
        summary.append(f"- Save: `std::ofstream` takes {seconds['ofstream'] / module_save:.2f} x "
                       f"the time of `SaveFile`"
                       + (f"; with `fsync` {seconds['ofstream_sync'] / module_save:.2f} x"
                          if seconds.get("ofstream_sync") else "") + ".")
    if module_peak:
        summary.append(f"- Memory: the module's peak is {module_peak / floor:.2f} x the data-model "
                       f"floor ({module_peak / 1e6:.1f} MB against {floor / 1e6:.1f} MB).")
    if seconds.get("baseline") and peak.get("baseline") and module_load:
        summary.append(f"- Baseline: its load takes {seconds['baseline'] / module_load:.2f} x the "
                       f"module's time, and its peak is {peak['baseline'] / floor:.2f} x the floor "
                       f"({peak['baseline'] / 1e6:.1f} MB).")
    if seconds.get("close"):
        summary.append(f"- CloseTable: {seconds['close'] * 1000:.1f} ms for the loaded table.")
    edits = [r for r in results.get("edit", []) if "edit_first_ns" in r]
    if edits:
        first = median([float(r["edit_first_ns"]) for r in edits])
        last = median([float(r["edit_last_ns"]) for r in edits])
        rss_first = median([int(r["rss_first_kb"]) for r in edits]) / 1000
        rss_last = median([int(r["rss_last_kb"]) for r in edits]) / 1000
        summary.append(f"- Edits (SetField, AddRecord, DeleteRecord of the first record, cursor "
                       f"moves; {edits[0]['edit_ops']} operations in ten rounds): {first:.1f} ns "
                       f"per operation in the first round, {last:.1f} ns in the last; resident "
                       f"memory {rss_first:.1f} MB after the first round, {rss_last:.1f} MB "
                       f"after the last.")
    if module_load and seconds.get("append"):
        summary.append(f"- AppendFile: {seconds['append'] / module_load:.2f} x the time per byte "
                       f"of LoadFile.")
    return "\n".join([title, ""] + rows + [""] + summary)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("--size-mb", type=float, default=100.0)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--shapes", default="A,B,C,D")
    parser.add_argument("--out")
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--library")
    parser.add_argument("--baseline", help="another libdatenbank.so whose load and append are "
                        "measured in the same rounds")
    parser.add_argument("--work-dir", help="where the inputs go (default: a new folder in /tmp)")
    parser.add_argument("--keep", action="store_true", help="keep the inputs and outputs")
    parser.add_argument("--rapidcsv-note", default="no Debian package")
    parser.add_argument("--command", help="the command line to print in the report")
    args = parser.parse_args()

    build = os.path.abspath(args.build_dir)
    library = os.path.abspath(args.library or os.path.join(build, "libdatenbank.so"))
    names = [name.strip().upper() for name in args.shapes.split(",") if name.strip()]
    unknown = [name for name in names if name not in SHAPES]
    if unknown or not names or args.rounds < 1 or args.size_mb <= 0:
        parser.error(f"--shapes takes A, B, C and D; --rounds and --size-mb must be positive "
                     f"(unknown: {', '.join(unknown)})")
    if args.work_dir:
        work = os.path.abspath(args.work_dir)
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="datenbank_compare.", dir="/tmp")

    started = datetime.datetime.now(datetime.timezone.utc)
    load_before = load_average()
    baseline = os.path.abspath(args.baseline) if args.baseline else None
    contenders = make_contenders(build, library, work, baseline)
    failed = False
    tables = []
    try:
        for name in names:
            log(f"shape {name}: generating ...")
            shape = generate(build, work, name, args.size_mb)
            log(f"shape {name}: {shape['lines']} lines, {shape['file_bytes']} bytes")
            results = {c.key: [] for c in contenders}
            for round_index in range(args.rounds):
                # Round robin, each round starting one contender further on, so that no contender
                # always runs right after the same one.
                start = round_index % len(contenders)
                for contender in contenders[start:] + contenders[:start]:
                    try:
                        result = contender.run(shape, compare=round_index == 0)
                        result["seconds"] = float(result["seconds"])
                        results[contender.key].append(result)
                        log(f"  round {round_index + 1} {contender.key}: "
                            f"{result['seconds']:.3f} s")
                    except (RuntimeError, ValueError, KeyError, OSError,
                            subprocess.TimeoutExpired) as error:
                        failed = True
                        results.setdefault(contender.key + "!", []).append(
                            str(error).replace("|", "/").replace("\n", " "))
                        log(f"  round {round_index + 1} {contender.key}: FAILED {error}")
            tables.append(shape_table(shape, contenders, results, args.rapidcsv_note))
            for path in [shape["path"]] + [os.path.join(work, f"{kind}_{name}.out")
                                           for kind in ("module", "ofstream", "ofstream_sync")]:
                if not args.keep and os.path.exists(path):
                    os.remove(path)
    finally:
        if not args.keep and not args.work_dir:
            shutil.rmtree(work, ignore_errors=True)

    finished = datetime.datetime.now(datetime.timezone.utc)
    command = args.command or " ".join(shlex.quote(a) for a in sys.argv)
    header = [
        "## Peer comparison",
        "",
        f"- Command: `{command}`",
        f"- Run: {started:%Y-%m-%d %H:%M} to {finished:%H:%M} UTC; load average "
        f"{load_before} at the start, {load_average()} at the end",
    ] + machine_lines(library) + [
        f"- Method: rounds: {args.rounds}, round robin over the contenders (each round starting "
        "one further on), a fresh process for every measurement; medians. Inputs: random "
        "printable ASCII and the blank (never `;` or `\"`), `;` between fields, CR LF after "
        f"every line, in the page cache under `{work}`. MB = 10^6 bytes. Times are taken inside each process around the "
        "operation alone (sqlite3: by `date` run through `.system` right before and after "
        "`.import`). Peak = VmHWM after the load minus VmRSS before it, in the same process. "
        "`time x module`: the contender's time over the module's for the same operation "
        "(load, or save for the writers; above 1 the module is faster). Every load is checked "
        "against the generated record count and field bytes; saved files against the input.",
    ]
    report = "\n".join(header) + "\n\n" + "\n\n".join(tables) + "\n"
    print(report)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as file:
            file.write(report)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
