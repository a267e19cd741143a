#!/usr/bin/env python3
"""The Windows DLLs, 32-bit and 64-bit, under Wine beside the Linux library, on the shapes of
bench/compare.sh.

    bench/wine_bench.py [--size-mb N] [--rounds N] [--shapes A,B,C,D] [--out FILE] [--sse2]
    bench/wine_bench.py --long-lines [--rounds N] [--baseline-dll PATH] [--out FILE]

Builds the Linux library and datenbank_bench in Release (build/compare, as compare.sh does) and,
for each Windows width, the DLL with datenbank_bench_win32 in Release: i686 in build/wbench
("Windows x86"; with --sse2 also a variant compiled with -msse2 in build/wbench-sse2, which is not
what ships) and x86_64 in build/wbench64 ("Windows x64"). It generates the shapes and measures
LoadFile, GetField over every field, SaveFile, AppendFile and CloseTable, each in a fresh process,
round robin over the contenders with each round starting one further on. Prints one Markdown
table of medians per shape. A contender whose run fails (the 32-bit DLL appending shape D, which
does not fit its 2 GiB) is reported as failed, with its message, and the others go on.

The 32-bit builds run only where the kernel runs i386 programs, as tools/runs_i386.sh says
(DATENBANK_NO_I386=1 makes it say no; a tree without it is taken to run them). Where it does not,
only the 64-bit DLL is measured and the report says why. Every Windows program runs through its
build's wine.sh (the build's Wine loader and prefix, as ctest runs the tests), and each prefix has
one persistent wineserver, so Wine's start-up is not timed: the times are taken inside each
process around the operation alone.

Peak memory: the peak after the load minus the resident memory before it; on Linux VmHWM and
VmRSS, on Windows the peak working set and the working set as Wine reports them.

--long-lines measures instead what long lines cost the 32-bit DLL, whose address space is 2 GiB:
800 lines of 520 KiB and 2,000 lines of 600 KiB loaded; one field of 260 MiB loaded and the same
file appended; a line of 400 MiB among 1,000 short ones loaded, deleted, and a line of 480 MiB
appended. Each is run in a fresh process, with the DLL of this tree and, with --baseline-dll, with
another one (say, of an earlier commit), alternating. It prints the result of each call and the
peak working set and peak commit charge (median MB) after the load and after the append. It needs
a kernel that runs i386 programs.
"""

import argparse
import os
import shlex
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import SHAPES, parse_pairs  # noqa: E402  (the same shapes, the same output format)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MODES = ["load", "read", "save", "append", "close"]
TOOLCHAIN_X86 = os.path.join(ROOT, "cmake", "toolchain-i686-w64-mingw32.cmake")
TOOLCHAIN_X64 = os.path.join(ROOT, "cmake", "toolchain-x86_64-w64-mingw32.cmake")
X86, X86_SSE2, X64 = "Windows x86 (Wine)", "Windows x86 -msse2 (Wine)", "Windows x64 (Wine)"


def run(argv, env=None):
    done = subprocess.run(argv, capture_output=True, text=True, env=env, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)}: exit {done.returncode}: {done.stderr[-300:]}")
    return done.stdout


def build(directory, extra):
    run(["cmake", "-S", ROOT, "-B", directory, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         "-DDATENBANK_BUILD_TESTS=OFF"] + extra)
    run(["cmake", "--build", directory, "-j", "2"])


def runs_i386():
    """(True, "") where this kernel runs i386 programs, else (False, why), as tools/runs_i386.sh
    answers."""
    probe = os.path.join(ROOT, "tools", "runs_i386.sh")
    done = subprocess.run([probe], capture_output=True, text=True, check=False)
    if done.returncode == 0:
        return True, ""
    return False, done.stdout.strip() or f"tools/runs_i386.sh: exit {done.returncode}"


def wine_script(directory):
    """The build's wine.sh, which runs a program of it under the build's Wine loader and prefix."""
    script = os.path.join(directory, "wine.sh")
    if not os.access(script, os.X_OK):
        raise RuntimeError(f"{script} is missing: the build found no Wine loader")
    return script


def wine_environment(directory):
    """This environment with the variables that the build's wine.sh sets for its program (its
    one command is exec /usr/bin/env NAME=VALUE... LOADER "$@"): WINEPREFIX, and for the 64-bit
    loader WINEARCH and WINELOADER, so that wineserver serves the same prefix."""
    env = dict(os.environ)
    with open(wine_script(directory), encoding="utf-8") as file:
        for line in file:
            if line.startswith("exec "):
                for word in shlex.split(line)[2:]:
                    name, is_set, value = word.partition("=")
                    if not is_set:
                        break
                    env[name] = value
    if "WINEPREFIX" not in env:
        raise RuntimeError(f"{wine_script(directory)} names no WINEPREFIX")
    return env


def start_wine(directory):
    """Starts the persistent wineserver of the build's prefix, and Wine's background services,
    which start with the first program and keep its output pipes open: started here, on no pipe,
    reading a measurement's output ends with it. The first start creates the prefix. Returns the
    environment in which wineserver -k stops that server."""
    env = wine_environment(directory)
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL, "check": False}
    if not os.path.isfile(os.path.join(env["WINEPREFIX"], "system.reg")):
        subprocess.run([wine_script(directory), "cmd", "/c", "exit"], **quiet)
        subprocess.run(["wineserver", "-w"], env=env, check=False)
    subprocess.run(["wineserver", "-p"], env=env, check=False)
    subprocess.run([wine_script(directory), "cmd", "/c", "exit"], **quiet)
    return env


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def write_lines(path, lines):
    """Writes (count, bytes) runs of lines of 'x' bytes, each ended by a line feed."""
    with open(path, "wb") as file:
        for count, length in lines:
            line = b"x" * length + b"\n"
            for _ in range(count):
                file.write(line)


def long_lines(args, wine, work, dlls, bench_exe):
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
                    [wine, bench_exe, "--mode", mode, "--file",
                     wine_path(os.path.join(work, name)), "--library", wine_path(path)] + extra,
                    capture_output=True, text=True, check=False)
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


def measure(argv):
    """One fresh-process measurement: its key=value pairs, or None and the program's last line."""
    done = subprocess.run(argv, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        said = done.stderr.strip().splitlines()
        return None, said[-1] if said else f"exit {done.returncode}"
    return parse_pairs(done.stdout), ""


def shape_report(name, base, shape, contenders, times, peaks, failures):
    """The Markdown of one shape: medians, each Windows contender against Linux, failures."""
    def median(values, digits=3):
        return f"{statistics.median(values):.{digits}f}" if values else "failed"

    def ratio(contender, mode):
        mine, linux = times[(contender, mode)], times[("Linux", mode)]
        if not mine or not linux:
            return "-"
        return f"{statistics.median(mine) / statistics.median(linux):.2f}"

    others = [c for c in contenders if c != "Linux"]
    mb = shape["file_bytes"] / 1e6
    rows = [f"### Shape {name}: {shape['lines']:,} lines x {base['fields']} fields of "
            f"{base['min']}-{base['max']} B, {mb:.1f} MB", "",
            "| operation | " + " | ".join(f"{c} median s" for c in contenders) + " | " +
            " | ".join(f"{c} x Linux" for c in others) + " |",
            "|---|" + "---:|" * (len(contenders) + len(others))]
    for mode in MODES:
        rows.append(f"| {mode} | " + " | ".join(median(times[(c, mode)]) for c in contenders) +
                    " | " + " | ".join(ratio(c, mode) for c in others) + " |")
    rows.append("| peak memory of the load, MB | " + " | ".join(
        median([p / 1000 for p in peaks[c]], 1) for c in contenders) + " |" + " |" * len(others))
    read = [f"{c} {shape['field_bytes'] / 1e9 / statistics.median(times[(c, 'read')]):.2f} GB/s"
            for c in contenders if times[(c, "read")]]
    rows += ["", "GetField: " + ", ".join(read) + "."]
    for (contender, mode), said in failures.items():
        rows.append(f"Failed: {contender} {mode}, {len(said)} of "
                    f"{len(said) + len(times[(contender, mode)])} runs: {said[-1]}")
    return rows + [""]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", maxsplit=1)[0])
    parser.add_argument("--size-mb", type=float, default=100.0)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--shapes", default="A,B,C,D")
    parser.add_argument("--out")
    parser.add_argument("--sse2", action="store_true", help="also a 32-bit DLL built with -msse2")
    parser.add_argument("--long-lines", action="store_true")
    parser.add_argument("--baseline-dll", help="with --long-lines, also measure this DLL")
    args = parser.parse_args()

    i386, why_not = runs_i386()
    if args.long_lines and not i386:
        sys.exit(f"wine_bench.py: --long-lines measures the 32-bit DLL: {why_not}")
    linux_build = os.path.join(ROOT, "build", "compare")
    builds = {}
    build(linux_build, [])
    if i386:
        x86_directory = os.path.join(ROOT, "build", "wbench")
        builds[X86] = x86_directory
        build(x86_directory, ["--toolchain", TOOLCHAIN_X86])
        if args.sse2:
            # In the plain 32-bit build's prefix: one wineserver serves both.
            builds[X86_SSE2] = os.path.join(ROOT, "build", "wbench-sse2")
            build(builds[X86_SSE2], ["--toolchain", TOOLCHAIN_X86, "-DCMAKE_CXX_FLAGS=-msse2",
                                     "-DDATENBANK_WINEPREFIX=" + os.path.join(x86_directory,
                                                                             "wineprefix")])
    if not args.long_lines:
        builds[X64] = os.path.join(ROOT, "build", "wbench64")
        build(builds[X64], ["--toolchain", TOOLCHAIN_X64])

    servers = {}
    report = [f"Command: `bench/wine_bench.py {' '.join(sys.argv[1:])}`", ""]
    if not i386:
        report += [f"The 32-bit DLL is not measured: {why_not}." +
                   (" (--sse2 left out: its build is 32-bit.)" if args.sse2 else ""), ""]
    work = tempfile.mkdtemp(prefix="datenbank_wine.")
    try:
        for directory in builds.values():
            prefix = wine_environment(directory)["WINEPREFIX"]
            if prefix not in servers:
                servers[prefix] = start_wine(directory)
        make_shape = os.path.join(work, "make_shape")
        run(["g++", "-O2", "-std=c++17", os.path.join(HERE, "peers", "make_shape.cpp"), "-o",
             make_shape])

        contenders = {"Linux": lambda mode, path, out: [
            os.path.join(linux_build, "bench", "datenbank_bench"), "--mode", mode, "--file", path,
            "--out", out, "--library", os.path.join(linux_build, "libdatenbank.so")]}
        for name, directory in builds.items():
            contenders[name] = lambda mode, path, out, d=directory: [
                wine_script(d), os.path.join(d, "bench", "datenbank_bench_win32.exe"), "--mode",
                mode, "--file", wine_path(path), "--out", wine_path(out), "--library",
                wine_path(os.path.join(d, "datenbank.dll"))]

        if args.long_lines:
            dlls = {"this tree": os.path.join(builds[X86], "datenbank.dll")}
            if args.baseline_dll:
                dlls["baseline"] = os.path.abspath(args.baseline_dll)
            report += long_lines(args, wine_script(builds[X86]), work, dlls, os.path.join(
                builds[X86], "bench", "datenbank_bench_win32.exe"))
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
            failures = {}
            names = list(contenders)
            for round_number in range(args.rounds):
                turn = round_number % len(names)
                for mode in MODES:
                    for contender in names[turn:] + names[:turn]:
                        out = os.path.join(work, f"out_{name}.csv")
                        result, said = measure(contenders[contender](mode, path, out))
                        if result is None:
                            failures.setdefault((contender, mode), []).append(said)
                            continue
                        if int(result["records"]) != shape["lines"]:
                            raise RuntimeError(f"{contender} {mode}: {result}")
                        times[(contender, mode)].append(float(result["seconds"]))
                        if mode == "load":
                            peaks[contender].append(int(result["hwm_kb"]) - int(result["base_kb"]))
            report += shape_report(name, base, shape, contenders, times, peaks, failures)
            for done in [path, os.path.join(work, f"out_{name}.csv")]:
                if os.path.exists(done):
                    os.remove(done)
    finally:
        for env in servers.values():
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
