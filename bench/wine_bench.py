#!/usr/bin/env python3
"""The 32-bit Windows DLL under Wine beside the Linux library, on the shapes of bench/compare.sh.

    bench/wine_bench.py [--size-mb N] [--rounds N] [--shapes A,B,C] [--out FILE] [--sse2]

Builds the Linux library and datenbank_bench in Release (build/compare, as compare.sh does) and
the DLL with datenbank_bench_win32 in Release for i686 (build/wbench; with --sse2 also a variant
compiled with -msse2 in build/wbench-sse2, which is not what ships), generates the shapes, and
measures LoadFile, GetField over every field, SaveFile, AppendFile and CloseTable, round robin and
in a fresh process each, Linux and Windows alternating. Prints one Markdown table of medians.
Every Windows run goes through one persistent wineserver, so Wine's start-up is not timed: the
times are taken inside each process around the operation alone.

Peak memory: the peak after the load minus the resident memory before it; on Linux VmHWM and
VmRSS, on Windows the peak working set and the working set as Wine reports them.
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("--size-mb", type=float, default=100.0)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--shapes", default="A,B,C")
    parser.add_argument("--out")
    parser.add_argument("--sse2", action="store_true")
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
        for name in [s.strip().upper() for s in args.shapes.split(",") if s.strip()]:
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
