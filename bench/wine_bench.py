#!/usr/bin/env python3
"""The 32-bit Windows DLL under Wine beside the Linux library, on the shapes of bench/compare.sh.

    bench/wine_bench.py [--size-mb N] [--rounds N] [--shapes A,B,C,D] [--out FILE] [--sse2]
    bench/wine_bench.py --long-lines [--rounds N] [--baseline-dll PATH] [--out FILE]

Builds the Linux library and datenbank_bench in Release (build/compare, as compare.sh does) and
the DLL with datenbank_bench_win32 in Release for i686 (build/wbench; with --sse2 also a variant
compiled with -msse2 in build/wbench-sse2, which is not what ships), generates the shapes, and
measures LoadFile, GetField over every field, SaveFile, AppendFile and CloseTable, round robin and
in a fresh process each, Linux and Windows alternating. Prints one Markdown table of medians.
Every Windows run goes through one persistent wineserver, so Wine's start-up is not timed: the
times are taken inside each process around the operation alone.

Peak memory: the peak after the load minus the resident memory before it; on Linux VmHWM and
VmRSS, on Windows the peak working set and the working set as Wine reports them.

--long-lines measures instead what long lines cost the 32-bit DLL, whose address space is 2 GiB:
800 lines of 520 KiB and 2,000 lines of 600 KiB loaded; one field of 260 MiB loaded and the same
file appended; a line of 400 MiB among 1,000 short ones loaded, deleted, and a line of 480 MiB
appended. Each is run in a fresh process, with the DLL of this tree and, with --baseline-dll, with
another one (say, of an earlier commit), alternating. It prints the result of each call and the
peak working set and peak commit charge (median MB) after the load and after the append.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import SHAPES, parse_pairs  # noqa: E402  (the same shapes, the same output format)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MODES = ["load", "read", "save", "append", "close"]
TOOLCHAIN = os.path.join(ROOT, "cmake", "toolchain-i686-w64-mingw32.cmake")


def run(argv, env=None):
    done = subprocess.run(argv, capture_output=True, text=True, env=env, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)}: exit {done.returncode}: {done.stderr[-300:]}")
    return done.stdout


def build(directory, extra):
    run(["cmake", "-S", ROOT, "-B", directory, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         "-DDATENBANK_BUILD_TESTS=OFF"] + extra)
    run(["cmake", "--build", directory, "-j", "2"])


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def write_lines(path, lines):
    """Writes (count, bytes) runs of lines of 'x' bytes, each ended by a line feed."""
    with open(path, "wb") as file:
        for count, length in lines:
            line = b"x" * length + b"\n"
            for _ in range(count):
                file.write(line)


def long_lines(args, env, work, dlls, bench_exe):
    """The long-line cases of --long-lines, as Markdown."""
    kib, mib = 1024, 1024 * 1024
    files = {
        "800x520K": [(800, 520 * kib)],
        "2000x600K": [(2000, 600 * kib)],
        "260M": [(1, 260 * mib)],
        "mixed400M": [(500, 8), (1, 400 * mib), (500, 8)],
        "480M": [(1, 480 * mib)],
    }
    for name, lines in files.items():
        write_lines(os.path.join(work, name), lines)
    cases = [
        ("800 lines of 520 KiB: load", "load", "800x520K", []),
        ("2,000 lines of 600 KiB: load", "load", "2000x600K", []),
        ("one field of 260 MiB: load, append the same file", "append", "260M", []),
        ("a 400 MiB line among 1,000 short ones: load, delete it, append a 480 MiB line",
         "append", "mixed400M", ["--delete", "501", "--append-file", wine_path(
             os.path.join(work, "480M"))]),
    ]
    rows = ["| case | DLL | result | peak working set after the load, MB | peak commit after "
            "the load, MB | peak commit after the append, MB |", "|---|---|---|---:|---:|---:|"]
    for label, mode, name, extra in cases:
        outcomes = {dll: [] for dll in dlls}
        for _ in range(args.rounds):
            for dll, path in dlls.items():
                done = subprocess.run(
                    ["wine", bench_exe, "--mode", mode, "--file",
                     wine_path(os.path.join(work, name)), "--library", wine_path(path)] + extra,
                    capture_output=True, text=True, env=env, check=False)
                if done.returncode == 0:
                    outcomes[dll].append(parse_pairs(done.stdout))
                else:
                    outcomes[dll].append({"failed": done.stderr.strip().splitlines()[-1]})
        for dll, results in outcomes.items():
            failed = [r["failed"] for r in results if "failed" in r]
            good = [r for r in results if "failed" not in r]
            result = (f"failed: {failed[0]}" + (f" ({len(failed)} of {len(results)} runs)"
                                                if len(failed) < len(results) else "")
                      if failed else f"ok, {good[0]['records']} records loaded")

            def mb(key, good=good):
                values = [int(r[key]) / 1024 for r in good if key in r]
                return f"{statistics.median(values):.0f}" if values else "-"
            rows.append(f"| {label} | {dll} | {result} | {mb('hwm_kb')} | {mb('commit_kb')} | "
                        f"{mb('commit_kb_after')} |")
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("--size-mb", type=float, default=100.0)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--shapes", default="A,B,C,D")
    parser.add_argument("--out")
    parser.add_argument("--sse2", action="store_true")
    parser.add_argument("--long-lines", action="store_true")
    parser.add_argument("--baseline-dll", help="with --long-lines, also measure this DLL")
    args = parser.parse_args()

    linux_build = os.path.join(ROOT, "build", "compare")
    builds = {"Windows (Wine)": os.path.join(ROOT, "build", "wbench")}
    build(linux_build, [])
    build(builds["Windows (Wine)"], ["--toolchain", TOOLCHAIN])
    if args.sse2:
        builds["Windows -msse2 (Wine)"] = os.path.join(ROOT, "build", "wbench-sse2")
        build(builds["Windows -msse2 (Wine)"], ["--toolchain", TOOLCHAIN, "-DCMAKE_CXX_FLAGS=-msse2"])

    env = dict(os.environ, WINEDEBUG="-all",
               WINEPREFIX=os.path.join(builds["Windows (Wine)"], "wineprefix"))
    # Wine's background services start with the first program and keep its output pipes open:
    # start them here, on no pipe, so that reading a measurement's output ends with it.
    subprocess.run(["wineserver", "-p"], env=env, check=False)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="datenbank_wine.")
    make_shape = os.path.join(work, "make_shape")
    run(["g++", "-O2", "-std=c++17", os.path.join(HERE, "peers", "make_shape.cpp"), "-o",
         make_shape])

    contenders = {"Linux": lambda mode, path, out: [
        os.path.join(linux_build, "bench", "datenbank_bench"), "--mode", mode, "--file", path,
        "--out", out, "--library", os.path.join(linux_build, "libdatenbank.so")]}
    for name, directory in builds.items():
        contenders[name] = lambda mode, path, out, d=directory: [
            "wine", os.path.join(d, "bench", "datenbank_bench_win32.exe"), "--mode", mode,
            "--file", wine_path(path), "--out", wine_path(out), "--library",
            wine_path(os.path.join(d, "datenbank.dll"))]

    report = [f"Command: `bench/wine_bench.py {' '.join(sys.argv[1:])}`", ""]
    try:
        if args.long_lines:
            dlls = {"this tree": os.path.join(builds["Windows (Wine)"], "datenbank.dll")}
            if args.baseline_dll:
                dlls["baseline"] = os.path.abspath(args.baseline_dll)
            report += long_lines(args, env, work, dlls, os.path.join(
                builds["Windows (Wine)"], "bench", "datenbank_bench_win32.exe"))
        shapes = [] if args.long_lines else [s.strip().upper() for s in args.shapes.split(",")]
        for name in [s for s in shapes if s]:
            base = SHAPES[name]
            path = os.path.join(work, f"shape_{name}.csv")
            lines = max(1, round(base["lines"] * args.size_mb / 100))
            shape = {k: int(v) for k, v in parse_pairs(run(
                [make_shape, "--lines", str(lines), "--fields", str(base["fields"]), "--min",
                 str(base["min"]), "--max", str(base["max"]), "--seed", str(base["seed"]),
                 "--out", path])).items()}
            times = {(c, m): [] for c in contenders for m in MODES}
            peaks = {c: [] for c in contenders}
            for _ in range(args.rounds):
                for mode in MODES:
                    for contender, argv in contenders.items():
                        out = os.path.join(work, f"out_{name}.csv")
                        result = parse_pairs(run(argv(mode, path, out), env=env))
                        if int(result["records"]) != shape["lines"]:
                            raise RuntimeError(f"{contender} {mode}: {result}")
                        times[(contender, mode)].append(float(result["seconds"]))
                        if mode == "load":
                            peaks[contender].append(int(result["hwm_kb"]) - int(result["base_kb"]))
            mb = shape["file_bytes"] / 1e6
            report += [f"### Shape {name}: {shape['lines']:,} lines x {base['fields']} fields of "
                       f"{base['min']}-{base['max']} B, {mb:.1f} MB", "",
                       "| operation | " + " | ".join(f"{c} median s" for c in contenders) +
                       " | " + " | ".join(f"{c} x Linux" for c in contenders if c != "Linux") +
                       " |", "|---|" + "---:|" * (2 * len(contenders) - 1)]
            for mode in MODES:
                medians = {c: statistics.median(times[(c, mode)]) for c in contenders}
                report.append(f"| {mode} | " + " | ".join(f"{medians[c]:.3f}" for c in contenders)
                              + " | " + " | ".join(f"{medians[c] / medians['Linux']:.2f}"
                                                   for c in contenders if c != "Linux") + " |")
            report.append("| peak memory of the load, MB | " + " | ".join(
                f"{statistics.median(peaks[c]) / 1000:.1f}" for c in contenders) + " | |" +
                " |" * (len(contenders) - 2))
            read = {c: shape["field_bytes"] / 1e9 / statistics.median(times[(c, "read")])
                    for c in contenders}
            report += ["", "GetField: " + ", ".join(f"{c} {v:.2f} GB/s" for c, v in read.items())
                       + ".", ""]
    finally:
        subprocess.run(["wineserver", "-k"], env=env, check=False)
        for entry in os.listdir(work):
            os.remove(os.path.join(work, entry))
        os.rmdir(work)
    text = "\n".join(report)
    print(text)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as file:
            file.write(text + "\n")


if __name__ == "__main__":
    main()
