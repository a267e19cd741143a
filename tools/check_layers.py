#!/usr/bin/env python3
"""Checks that the library's layers include one way: a file includes headers of its own folder and
of folders below it, never of a folder beside or above it. Exits 1 and names every include that
breaks the rule.

The order, bottom first (README.md, "Layout"):
  include     the public header, datenbank.h
  platform    files, large blocks, the memory limit; the only folder with operating-system code
  primitives  byte scanning, the sixteen-byte window, the fingerprint, the text-out convention
  texts       result messages, version and information texts
  store       records, chunks, the chunk writer, text blocks
  engines     loader, writer, the environment they run in
  table       TDatenbank and its 29 operations
  module      the factory and the library's entry
"""
import pathlib
import re
import sys

LEVELS = {
    "include": 0,
    "platform": 1,
    "primitives": 1,
    "texts": 1,
    "store": 2,
    "engines": 3,
    "table": 4,
    "module": 5,
}
# Folders that depend on nothing of the project at all.
STANDALONE = {"primitives"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def folder_of(header: str) -> str:
    return "include" if "/" not in header else header.split("/", 1)[0]


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    broken = []
    checked = 0
    for folder, level in LEVELS.items():
        for path in sorted((root / folder).glob("*")):
            if path.suffix not in {".h", ".cpp", ".c", ".inc", ".in", ".rc"}:
                continue
            checked += 1
            for header in INCLUDE.findall(path.read_text(encoding="utf-8")):
                target = folder_of(header)
                if target == folder:
                    continue
                if target not in LEVELS:
                    broken.append(f"{path.relative_to(root)}: {header} is outside the library")
                elif folder in STANDALONE or LEVELS[target] >= level:
                    broken.append(
                        f"{path.relative_to(root)}: includes {header} ({target} may not be "
                        f"used from {folder})"
                    )
    for line in broken:
        print(line, file=sys.stderr)
    if broken:
        print(f"layers: {len(broken)} include(s) against the layer order", file=sys.stderr)
        return 1
    print(f"layers: {checked} files include only their own layer and those below")
    return 0


if __name__ == "__main__":
    sys.exit(main())
