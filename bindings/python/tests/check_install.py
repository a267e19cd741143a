"""Installs the package with pip, without a package index, and uses it from where it went.

    python check_install.py LIBRARY

1. ``pip install ./bindings/python`` into a new virtual environment (the README's command):
   the package imports from the environment and runs with DATENBANK_LIBRARY.
2. ``pip install --target DIR --config-settings library=LIBRARY``: the package carries the
   library, and the whole test suite runs against that copy without DATENBANK_LIBRARY.
3. A source archive made by the build backend installs with pip as well.

Neither install may leave files in the source tree. Exits with 0 when everything holds.
"""

from __future__ import annotations

import importlib
import os
import subprocess
import sys
import tempfile
from pathlib import Path
from typing import Dict, List, Optional, Set

SOURCE = Path(__file__).resolve().parent.parent


def source_files() -> Set[str]:
    return {
        str(path.relative_to(SOURCE))
        for path in SOURCE.rglob("*")
        if "__pycache__" not in path.parts
    }


def run(command: List[str], env: Dict[str, str], cwd: Path) -> str:
    print("$", " ".join(command), flush=True)
    result = subprocess.run(
        command, env=env, cwd=cwd, capture_output=True, text=True, timeout=600
    )
    print(result.stdout, result.stderr, sep="", flush=True)
    if result.returncode != 0:
        raise SystemExit(f"failed with exit code {result.returncode}")
    return result.stdout


def environment(library: Optional[str]) -> Dict[str, str]:
    env = {
        key: value
        for key, value in os.environ.items()
        if key not in ("DATENBANK_LIBRARY", "PYTHONPATH") and not key.startswith("PIP_")
    }
    # No package index: everything must come from the machine.
    env["PIP_NO_INDEX"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    if library is not None:
        env["DATENBANK_LIBRARY"] = library
    return env


def main() -> None:
    library = str(Path(sys.argv[1]).resolve())
    before = source_files()
    with tempfile.TemporaryDirectory(prefix="datenbank-install-") as scratch:
        work = Path(scratch)

        venv = work / "venv"
        run([sys.executable, "-m", "venv", str(venv)], environment(None), work)
        python = venv / ("Scripts/python.exe" if os.name == "nt" else "bin/python")
        run([str(python), "-m", "pip", "install", str(SOURCE)], environment(None), work)
        output = run(
            [
                str(python),
                "-c",
                "import datenbank; print(datenbank.__file__); print(datenbank.library_path());"
                " print(datenbank.info().module_name)",
            ],
            environment(library),
            work,
        )
        lines = output.splitlines()
        assert str(Path(lines[0]).resolve()).startswith(str(venv.resolve()) + os.sep), lines[0]
        assert lines[1:] == [library, "Ovelt Datenbank"], lines

        target = work / "target"
        run(
            [
                sys.executable,
                "-m",
                "pip",
                "install",
                "--target",
                str(target),
                "--config-settings",
                f"library={library}",
                str(SOURCE),
            ],
            environment(None),
            work,
        )
        # The package carries the library under the name it looks for, whatever the file given.
        carried = target / "datenbank" / (
            "datenbank.dll" if sys.platform == "win32" else "libdatenbank.so"
        )
        assert carried.is_file(), carried
        env = environment(None)
        env["PYTHONPATH"] = str(target)
        output = run(
            [sys.executable, "-c", "import datenbank; print(datenbank.library_path())"], env, work
        )
        assert output.splitlines() == [str(carried)], output
        run(
            [sys.executable, "-m", "unittest", "discover", "-s", str(SOURCE / "tests")],
            env,
            work,
        )

        # A source archive made by the package's build backend installs the same package.
        sys.path.insert(0, str(SOURCE / "_backend"))
        backend = importlib.import_module("datenbank_build")

        archive = work / backend.build_sdist(str(work))
        from_archive = work / "from_archive"
        run(
            [sys.executable, "-m", "pip", "install", "--target", str(from_archive), str(archive)],
            environment(None),
            work,
        )
        env = environment(library)
        env["PYTHONPATH"] = str(from_archive)
        output = run(
            [sys.executable, "-c", "import datenbank; print(len(datenbank.Table.new(2)))"],
            env,
            work,
        )
        assert output.splitlines() == ["0"], output
    after = source_files()
    assert after == before, f"left in the source tree: {sorted(after - before)}"
    print("installed, imported and tested from both places")


if __name__ == "__main__":
    main()
