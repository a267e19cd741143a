"""Installs the package with pip, without a package index, and uses it from where it went.

    python check_install.py LIBRARY

The interpreter needs setuptools, wheel and venv (Debian: python3-setuptools, python3-wheel,
python3-venv) and, for the extension module, the Python headers (python3-dev) and a compiler.

1. ``pip install --no-build-isolation ./bindings/python`` into a new virtual environment (the
   README's command): the package imports from there with its compiled loops, and runs with
   DATENBANK_LIBRARY.
2. The same without a working compiler installs the package without the extension module.
3. ``pip wheel`` with DATENBANK_BUNDLE_LIBRARY=LIBRARY makes a platform wheel carrying the
   library and the extension module; installed into a fresh virtual environment, the whole test
   suite runs from there without DATENBANK_LIBRARY.
4. A source archive made by setuptools installs the same package.

No step may leave files in the source tree. Exits with 0 when everything holds.
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Set

SOURCE = Path(__file__).resolve().parent.parent
LIBRARY_FILE = {"win32": "datenbank.dll", "darwin": "libdatenbank.dylib"}.get(
    sys.platform, "libdatenbank.so"
)
WHERE = "import datenbank; print(datenbank.__file__, datenbank.COMPILED, datenbank.library_path())"


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
    return result.stdout + result.stderr


def environment(library: Optional[str], **extra: str) -> Dict[str, str]:
    env = {
        key: value
        for key, value in os.environ.items()
        if key not in ("DATENBANK_LIBRARY", "PYTHONPATH", "DATENBANK_PURE_PYTHON")
        and not key.startswith("PIP_")
    }
    # No package index: everything must come from the machine.
    env["PIP_NO_INDEX"] = "1"
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    if library is not None:
        env["DATENBANK_LIBRARY"] = library
    env.update(extra)
    return env


def venv(path: Path, system_site: bool) -> str:
    command = [sys.executable, "-m", "venv", str(path)]
    if system_site:
        command.append("--system-site-packages")
    run(command, environment(None), path.parent)
    return str(path / ("Scripts/python.exe" if os.name == "nt" else "bin/python"))


def main() -> None:
    library = str(Path(sys.argv[1]).resolve())
    headers = Path(sysconfig.get_paths()["include"], "Python.h").exists()
    before = source_files()
    install = ["-m", "pip", "install", "--no-build-isolation"]
    with tempfile.TemporaryDirectory(prefix="datenbank-install-") as scratch:
        work = Path(scratch)

        # 1. The README's command, in an environment that sees Debian's setuptools and wheel.
        python = venv(work / "venv", system_site=True)
        output = run([python, *install, "-v", str(SOURCE)], environment(None), work)
        expected = "built the compiled loops" if headers else "left out the compiled loops"
        assert f"datenbank: {expected}" in output, expected
        where = run([python, "-c", WHERE], environment(library), work).split()
        assert where[0].startswith(str(work / "venv")), where
        assert where[1:] == [str(headers), library], where

        # 2. Without a compiler the package goes in without the extension module.
        target = work / "target"
        output = run(
            [sys.executable, *install, "-v", "--target", str(target), str(SOURCE)],
            environment(None, CC="false", LDSHARED="false"),
            work,
        )
        assert "datenbank: left out the compiled loops" in output
        env = environment(library, PYTHONPATH=str(target))
        where = run([sys.executable, "-c", WHERE], env, work).split()
        assert where[1:] == ["False", library], where

        # 3. A platform wheel that carries the library, installed into a fresh environment.
        wheels = work / "wheels"
        run(
            [sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w"]
            + [str(wheels), str(SOURCE)],
            environment(None, DATENBANK_BUNDLE_LIBRARY=library),
            work,
        )
        (wheel,) = wheels.glob("datenbank-*.whl")
        assert not wheel.name.endswith("-none-any.whl"), wheel.name
        names = zipfile.ZipFile(wheel).namelist()
        assert f"datenbank/{LIBRARY_FILE}" in names, names
        assert any(name.startswith("_datenbank.") for name in names) == headers, names
        fresh = venv(work / "fresh", system_site=False)
        run([fresh, "-m", "pip", "install", str(wheel)], environment(None), work)
        carried = str(work / "fresh")
        where = run([fresh, "-c", WHERE], environment(None), work).split()
        assert where[0].startswith(carried) and where[2].startswith(carried), where
        assert where[2].endswith(LIBRARY_FILE) and where[1] == str(headers), where
        run(
            [fresh, "-m", "unittest", "discover", "-s", str(SOURCE / "tests")],
            environment(None, DATENBANK_EXPECT_COMPILED="1" if headers else "0"),
            work,
        )

        # 4. A source archive, made from a copy of the tree, installs the same package.
        copy = work / "copy"
        shutil.copytree(SOURCE, copy, ignore=shutil.ignore_patterns("__pycache__"))
        run(
            [sys.executable, "-c", "import setuptools.build_meta as b; b.build_sdist('dist')"],
            environment(None),
            copy,
        )
        (archive,) = (copy / "dist").glob("datenbank-*.tar.gz")
        from_archive = work / "from_archive"
        run(
            [sys.executable, *install, "--target", str(from_archive), str(archive)],
            environment(None),
            work,
        )
        where = run(
            [sys.executable, "-c", WHERE], environment(library, PYTHONPATH=str(from_archive)), work
        ).split()
        assert where[1:] == [str(headers), library], where
    after = source_files()
    assert after == before, f"left in the source tree: {sorted(after - before)}"
    print("installed from the tree, without a compiler, as a wheel and from a source archive")


if __name__ == "__main__":
    main()
