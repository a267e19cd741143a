"""``python -m datenbank``: which package, library and way of reading records are in use."""

from __future__ import annotations

import datenbank


def main() -> None:
    print(f"datenbank {datenbank.__version__} at {datenbank.__file__}")
    way = "compiled loops (_datenbank)" if datenbank.COMPILED else "ctypes alone"
    print(f"records are read through: {way}")
    try:
        print(f"library: {datenbank.library_path()} ({datenbank.info().version_text})")
    except datenbank.LibraryNotFoundError as error:
        print(f"library: not found\n{error}")


if __name__ == "__main__":
    main()
