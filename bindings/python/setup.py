"""The package datenbank and its extension module _datenbank, for setuptools.

- _datenbank (src/_datenbank.c) is optional: where it does not compile, the package is
  installed without it and does everything through ctypes. Either way the build says which
  (``pip install -v`` shows it; ``python -m datenbank`` tells it afterwards).
- DATENBANK_BUNDLE_LIBRARY=PATH puts that shared library into the package under the name the
  package looks for, so that the installed package needs no DATENBANK_LIBRARY.
- Every build happens in a scratch directory of its own, never in the source tree, and
  starts empty: nothing of an earlier build can slip into a wheel.
"""

from __future__ import annotations

import atexit
import os
import re
import shutil
import sys
import sysconfig
import tempfile
from typing import List

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
LIBRARY_FILE = {"win32": "datenbank.dll", "darwin": "libdatenbank.dylib"}.get(
    sys.platform, "libdatenbank.so"
)


def say(text: str) -> None:
    print(f"datenbank: {text}", file=sys.stderr, flush=True)


class optional_build_ext(build_ext):
    """Builds _datenbank, or leaves it out with a message when it cannot be built."""

    def run(self) -> None:
        try:
            super().run()
        except Exception as error:  # no compiler at all
            self.left_out(error)

    def build_extension(self, ext: Extension) -> None:
        headers = os.path.join(sysconfig.get_paths()["include"], "Python.h")
        if not os.path.exists(headers):
            self.left_out(f"no {headers} (Debian: python3-dev)")
            return
        try:
            super().build_extension(ext)
        except Exception as error:
            self.left_out(error)
            return
        say("built the compiled loops (_datenbank): the package reads records in C")

    def left_out(self, why: object) -> None:
        say(f"left out the compiled loops (_datenbank): {why}")
        say("the package does everything through ctypes, which reads records ten times slower")


class build_py_with_library(build_py):
    """Copies the shared library named by DATENBANK_BUNDLE_LIBRARY into the package."""

    def run(self) -> None:
        super().run()
        library = os.environ.get("DATENBANK_BUNDLE_LIBRARY")
        if library:
            if not os.path.isfile(library):
                raise FileNotFoundError(f"DATENBANK_BUNDLE_LIBRARY={library}: no such file")
            target = os.path.join(self.build_lib, "datenbank", LIBRARY_FILE)
            shutil.copyfile(library, target)
            os.chmod(target, 0o755)
            say(f"the package carries {library} as datenbank/{LIBRARY_FILE}")

    def get_outputs(self, include_bytecode: bool = True) -> List[str]:
        outputs: List[str] = super().get_outputs(include_bytecode)
        if os.environ.get("DATENBANK_BUNDLE_LIBRARY"):
            outputs.append(os.path.join(self.build_lib, "datenbank", LIBRARY_FILE))
        return outputs


def version() -> str:
    with open(os.path.join(HERE, "datenbank", "__init__.py"), encoding="utf-8") as file:
        found = re.search(r'^__version__ = "([^"]+)"$', file.read(), re.MULTILINE)
    if found is None:
        raise RuntimeError("datenbank/__init__.py sets no __version__")
    return found.group(1)


SCRATCH = tempfile.mkdtemp(prefix="datenbank-build-")
atexit.register(shutil.rmtree, SCRATCH, True)
warnings = [] if sys.platform == "win32" else ["-Wall", "-Wextra"]
setup(
    name="datenbank",
    version=version(),
    description="Tables of delimited text files through the Ovelt Datenbank module",
    python_requires=">=3.8",
    packages=["datenbank"],
    package_data={"datenbank": ["py.typed"]},
    ext_modules=[
        Extension(
            "_datenbank",
            sources=["src/_datenbank.c"],
            extra_compile_args=warnings,
            optional=True,
        )
    ],
    cmdclass={"build_ext": optional_build_ext, "build_py": build_py_with_library},
    options={"build": {"build_base": SCRATCH}, "egg_info": {"egg_base": SCRATCH}},
)
