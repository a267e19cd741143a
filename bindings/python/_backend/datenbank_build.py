"""The package's build backend (PEP 517 and PEP 660), with nothing but the standard library.

``pip install`` needs no download and no build dependency: setuptools alone cannot make a
wheel without the separate ``wheel`` package, which a machine without an index may lack.
The wheel holds the package as it is in the source tree. With the config setting
``library=PATH`` it also carries that shared library next to the package (and is then tagged
for this platform), so that the installed package finds it without DATENBANK_LIBRARY:

    pip install --config-settings library=$PWD/build/default/libdatenbank.so ./bindings/python

pip runs the backend in the package's own directory, so a relative PATH starts there.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import sys
import sysconfig
import tarfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Tuple

NAME = "datenbank"
SOURCE = Path(__file__).resolve().parent.parent
PACKAGE = SOURCE / NAME
SUMMARY = "Tables of delimited text files through the Ovelt Datenbank module"
REQUIRES_PYTHON = ">=3.8"
ConfigSettings = Optional[Dict[str, object]]


def _version() -> str:
    text = (PACKAGE / "__init__.py").read_text(encoding="utf-8")
    found = re.search(r'^__version__ = "([^"]+)"$', text, re.MULTILINE)
    if found is None:
        raise RuntimeError("datenbank/__init__.py sets no __version__")
    return found.group(1)


def _library_file() -> str:
    if sys.platform == "win32":
        return "datenbank.dll"
    if sys.platform == "darwin":
        return "libdatenbank.dylib"
    return "libdatenbank.so"


def _metadata(version: str) -> bytes:
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {NAME}\n"
        f"Version: {version}\n"
        f"Summary: {SUMMARY}\n"
        f"Requires-Python: {REQUIRES_PYTHON}\n"
    ).encode("utf-8")


def _package_files() -> List[Tuple[str, bytes]]:
    files = []
    for path in sorted(PACKAGE.iterdir()):
        if path.suffix == ".py" or path.name == "py.typed":
            files.append((f"{NAME}/{path.name}", path.read_bytes()))
    return files


def _write_wheel(
    directory: str, version: str, tag: str, files: List[Tuple[str, bytes]]
) -> str:
    name = f"{NAME}-{version}-{tag}.whl"
    info = f"{NAME}-{version}.dist-info"
    wheel = f"Wheel-Version: 1.0\nGenerator: datenbank_build\nRoot-Is-Purelib: true\nTag: {tag}\n"
    entries = files + [
        (f"{info}/METADATA", _metadata(version)),
        (f"{info}/WHEEL", wheel.encode("utf-8")),
    ]
    record = []
    with zipfile.ZipFile(os.path.join(directory, name), "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in entries:
            entry = zipfile.ZipInfo(path, date_time=(2026, 1, 1, 0, 0, 0))
            executable = path.endswith((".so", ".dll", ".dylib"))
            entry.external_attr = (0o100755 if executable else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            record.append(f"{path},sha256={digest.decode('ascii')},{len(data)}")
        record.append(f"{info}/RECORD,,")
        archive.writestr(f"{info}/RECORD", "\n".join(record) + "\n")
    return name


def get_requires_for_build_wheel(config_settings: ConfigSettings = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: ConfigSettings = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: ConfigSettings = None) -> List[str]:
    return []


def build_wheel(
    wheel_directory: str,
    config_settings: ConfigSettings = None,
    metadata_directory: Optional[str] = None,
) -> str:
    files = _package_files()
    tag = "py3-none-any"
    library = (config_settings or {}).get("library")
    if library:
        path = Path(str(library)).resolve()
        if not path.is_file():
            raise FileNotFoundError(
                f"library={library}: no such file ({path}; give an absolute path)"
            )
        files.append((f"{NAME}/{_library_file()}", path.read_bytes()))
        platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
        tag = f"py3-none-{platform}"
    return _write_wheel(wheel_directory, _version(), tag, files)


def build_editable(
    wheel_directory: str,
    config_settings: ConfigSettings = None,
    metadata_directory: Optional[str] = None,
) -> str:
    # A path entry that puts the source tree on sys.path.
    files = [(f"__editable__.{NAME}.pth", f"{SOURCE}\n".encode("utf-8"))]
    return _write_wheel(wheel_directory, _version(), "py3-none-any", files)


def build_sdist(sdist_directory: str, config_settings: ConfigSettings = None) -> str:
    version = _version()
    base = f"{NAME}-{version}"
    name = f"{base}.tar.gz"
    members = ["pyproject.toml", "_backend/datenbank_build.py"]
    members += [path for path, _ in _package_files()]
    members += [
        f"tests/{path.name}" for path in sorted((SOURCE / "tests").glob("*.py"))
    ]
    archive = os.path.join(sdist_directory, name)
    with tarfile.open(archive, "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for member in members:
            tar.add(str(SOURCE / member), arcname=f"{base}/{member}")
        data = _metadata(version)
        entry = tarfile.TarInfo(f"{base}/PKG-INFO")
        entry.size = len(data)
        tar.addfile(entry, io.BytesIO(data))
    return name
