#!/usr/bin/env bash
# Round trip between the two platforms: a file saved by datenbank.dll under Wine loads identically
# with libdatenbank.so on Linux, and a file saved on Linux loads identically under Wine; both
# libraries write the same table to the same bytes.
#
# Usage: tests/cross/round_trip.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
#   LINUX_BUILD_DIR holds libdatenbank.so, WINDOWS_BUILD_DIR holds datenbank.dll of either width.
#   The helper round_trip_tool.cpp is compiled for both platforms into a scratch directory, for
#   Windows with that build's own compiler, and runs there through its wine.sh (the loader of its
#   width, in its prefix).
# Exit status 0 when every comparison holds, 1 on a difference or failure, 2 on bad usage.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)
linux_library="$linux_build/libdatenbank.so"
windows_library="$windows_build/datenbank.dll"
for file in "$linux_library" "$windows_library"; do
    if [ ! -f "$file" ]; then
        echo "round trip: $file is missing; build it first" >&2
        exit 1
    fi
done

windows_cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$windows_build/CMakeCache.txt")
if [ -z "$windows_cxx" ] || [ ! -x "$windows_build/wine.sh" ]; then
    echo "round trip: $windows_build is not a configured Windows build with Wine" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-round-trip.XXXXXX")
trap 'rm -rf "$work"' EXIT

flags=(-std=c++17 -O1 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror -I"$source_dir/include")
c++ "${flags[@]}" -o "$work/tool" "$source_dir/tests/cross/round_trip_tool.cpp" -ldl
"$windows_cxx" "${flags[@]}" -static -o "$work/tool.exe" \
    "$source_dir/tests/cross/round_trip_tool.cpp"
# The Windows side finds the DLL in its own directory, as a deployed host does.
cp "$windows_library" "$work/datenbank.dll"

cd "$work"
linux() { ./tool "$linux_library" "$@"; }
windows() { "$windows_build/wine.sh" ./tool.exe datenbank.dll "$@"; }

failures=0
same_bytes() {
    if cmp -s "$1" "$2"; then
        echo "ok: $3"
    else
        echo "FAILED: $3 ($1 and $2 differ: $(cmp "$1" "$2" 2>&1 | head -1))"
        failures=$((failures + 1))
    fi
}

# 3b: ';'; a7: a byte above 127, which neither side may sign-extend or convert.
for delimiter in 3b a7; do
    echo "--- delimiter 0x$delimiter"
    # Linux writes, Windows loads and writes, Linux loads again.
    linux make "L-$delimiter.csv" "$delimiter"
    windows copy "L-$delimiter.csv" "LW-$delimiter.csv" "$delimiter" "LW-$delimiter.dump"
    linux copy "LW-$delimiter.csv" "LWL-$delimiter.csv" "$delimiter" "LWL-$delimiter.dump"
    linux copy "L-$delimiter.csv" "LL-$delimiter.csv" "$delimiter" "LL-$delimiter.dump"
    # Windows writes, Linux loads and writes, Windows loads again.
    windows make "W-$delimiter.csv" "$delimiter"
    linux copy "W-$delimiter.csv" "WL-$delimiter.csv" "$delimiter" "WL-$delimiter.dump"
    windows copy "WL-$delimiter.csv" "WLW-$delimiter.csv" "$delimiter" "WLW-$delimiter.dump"

    same_bytes "L-$delimiter.csv" "W-$delimiter.csv" "both libraries save the same table to the same bytes"
    same_bytes "LL-$delimiter.dump" "LW-$delimiter.dump" "a Linux file loads under Wine as on Linux"
    same_bytes "LW-$delimiter.dump" "LWL-$delimiter.dump" "a file saved under Wine loads on Linux as it was"
    same_bytes "LW-$delimiter.csv" "L-$delimiter.csv" "Wine saves a loaded Linux file unchanged"
    same_bytes "WL-$delimiter.csv" "W-$delimiter.csv" "Linux saves a loaded Wine file unchanged"
    same_bytes "WL-$delimiter.dump" "WLW-$delimiter.dump" "a file saved on Linux loads under Wine as it was"
    same_bytes "WLW-$delimiter.csv" "W-$delimiter.csv" "the second trip keeps the bytes"
    records=$(head -1 "LW-$delimiter.dump")
    echo "    ($records; $(wc -c <"L-$delimiter.csv") bytes)"
done

# A symbolic link is followed under Wine as on Linux: the file it names gets the new bytes and the
# link stays a link.
for side in linux windows; do
    printf 'old\r\n' >"real-$side.csv"
    ln -s "real-$side.csv" "link-$side.csv"
    "$side" copy L-3b.csv "link-$side.csv" 3b "link-$side.dump"
    if [ -L "link-$side.csv" ] && [ "$(readlink "link-$side.csv")" = "real-$side.csv" ]; then
        echo "ok: $side: saving through a symbolic link keeps the link"
    else
        echo "FAILED: $side: the symbolic link was replaced"
        failures=$((failures + 1))
    fi
    same_bytes "real-$side.csv" L-3b.csv "$side: the file the link names holds the saved bytes"
done

if [ "$failures" -ne 0 ]; then
    echo "round trip: $failures comparison(s) failed"
    exit 1
fi
echo "round trip: all comparisons hold"
