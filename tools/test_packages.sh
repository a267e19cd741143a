#!/usr/bin/env bash
# Builds the packages with CPack and checks what is in them:
#   - the Debian package of the Linux build (LINUX_BUILD_DIR, default build/default): its files,
#     its control fields, and the tool run from the unpacked tree;
#   - the zip of both Windows widths, made from the 64-bit build (WINDOWS64_BUILD_DIR, default
#     build/windows64) with the 32-bit build's install (WINDOWS32_BUILD_DIR, default build/windows)
#     beside its own: for x86/ and x64/ the DLL, tool and header, the DLL's one export and machine
#     (objdump), and each unpacked tool run under Wine, where it must find the DLL beside it. The
#     x64 tool runs on every x86-64 kernel; the x86 one only where the kernel runs i386 programs
#     (tools/runs_i386.sh; DATENBANK_NO_I386=1 acts as if not), and otherwise is named as not run.
# The builds must be configured and built (tools/test_all.sh builds them first); each is brought up
# to date here, so that CPack reads the packaging of the current sources.
#
# Usage: tools/test_packages.sh [LINUX_BUILD_DIR] [WINDOWS64_BUILD_DIR] [WINDOWS32_BUILD_DIR]
# Exit status: 0 passed (the x86 tool may have been named as not run); 1 a check failed; 2 wrong
# usage; 3 a Windows build or its objdump is missing (the Debian package was still made and
# checked).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 3 ]; then
  echo "usage: tools/test_packages.sh [LINUX_BUILD_DIR] [WINDOWS64_BUILD_DIR] [WINDOWS32_BUILD_DIR]" >&2
  exit 2
fi
linux_build=${1:-build/default}
windows64_build=${2:-build/windows64}
windows32_build=${3:-build/windows}
work=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
version=$(cut -d. -f1-3 VERSION | head -n1)

echo "=== Debian package of $linux_build"
cmake --build "$linux_build"
rm -rf "$linux_build/packages"
(cd "$linux_build" && cpack -G DEB >/dev/null)
deb=$linux_build/packages/ovelt-datenbank_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"
dpkg-deb --field "$deb" Package Version Architecture Maintainer Installed-Size Depends
listing=$(dpkg-deb --contents "$deb")
for path in ./usr/bin/datenbank ./usr/include/datenbank.h "./usr/lib/libdatenbank.so.$version" \
  ./usr/lib/libdatenbank.so.1 ./usr/lib/libdatenbank.so \
  ./usr/lib/cmake/Datenbank/DatenbankConfig.cmake ./usr/lib/cmake/Datenbank/DatenbankTargets.cmake \
  ./usr/lib/pkgconfig/datenbank.pc ./usr/share/datenbank/examples/kunden.csv \
  ./usr/share/man/man1/datenbank.1.gz; do
  grep -q " $path\( ->.*\)\?$" <<<"$listing" || fail "$deb lacks $path"
done
[ "$(dpkg-deb --field "$deb" Package)" = ovelt-datenbank ] || fail "wrong package name"
[ "$(dpkg-deb --field "$deb" Version)" = "$version" ] || fail "wrong package version"
[ -n "$(dpkg-deb --field "$deb" Maintainer)" ] || fail "no maintainer"
if command -v dpkg-shlibdeps >/dev/null 2>&1; then
  dpkg-deb --field "$deb" Depends | grep -q libc6 || fail "no Depends on libc6"
fi
# The unpacked tool finds the unpacked library by its run path.
dpkg-deb --extract "$deb" "$work/deb"
env -u LD_LIBRARY_PATH -u DATENBANK_LIBRARY "$work/deb/usr/bin/datenbank" show --count 2 \
  "$work/deb/usr/share/datenbank/examples/kunden.csv"

for build in "$windows64_build" "$windows32_build"; do
  if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "No Windows build in $build (tools/test_windows.sh makes it): no zip made." >&2
    exit 3
  fi
done
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  if ! command -v "$triplet-objdump" >/dev/null 2>&1; then
    echo "No $triplet-objdump (tools/install_deps.sh --windows installs it): no zip checked." >&2
    exit 3
  fi
done

echo "=== zip of $windows64_build and $windows32_build"
cmake --build "$windows64_build"
cmake --build "$windows32_build"
rm -rf "$windows64_build/packages"
# The argument, not the 64-bit build's cache, names the 32-bit build.
x86_dir=$(cd "$windows32_build" && pwd)
(cd "$windows64_build" && cpack -G ZIP -D "CPACK_DATENBANK_X86_BUILD_DIR=$x86_dir" >/dev/null) ||
  fail "CPack made no zip of $windows64_build and $windows32_build"
top=ovelt-datenbank-$version-windows
zip=$windows64_build/packages/$top.zip
[ -f "$zip" ] || fail "no $zip"
python3 - "$zip" "$top" "$work/zip" <<'PYTHON'
import sys
import zipfile

path, top, target = sys.argv[1:]
with zipfile.ZipFile(path) as archive:
    names = archive.namelist()
    for name in names:
        print(f"  {name}")
    for width in ("x86", "x64"):
        for wanted in ("bin/datenbank.dll", "bin/datenbank.exe", "include/datenbank.h"):
            if f"{top}/{width}/{wanted}" not in names:
                sys.exit(f"{path} lacks {top}/{width}/{wanted}")
    strays = [n for n in names if not n.startswith((f"{top}/x86/", f"{top}/x64/"))]
    if strays:
        sys.exit(f"{path} holds {strays} outside {top}/x86/ and {top}/x64/")
    archive.extractall(target)
PYTHON
unpacked=$work/zip/$top
cmp "$unpacked/x86/include/datenbank.h" "$unpacked/x64/include/datenbank.h" ||
  fail "the two widths carry different headers"

# check_dll WIDTH TRIPLET FILE_FORMAT: the DLL of that width exports exactly
# _CreateDatenbankClassInstance and is built for that machine.
check_dll() {
  local dll=$unpacked/$1/bin/datenbank.dll format exports
  format=$("$2-objdump" -f "$dll" | sed -n 's/.*file format //p')
  [ "$format" = "$3" ] || fail "$1/bin/datenbank.dll is '$format', not $3"
  "$2-objdump" -p "$dll" >"$work/$1.objdump"
  grep -Eq $'^\tExport Address Table[ \t]+0+1$' "$work/$1.objdump" ||
    fail "$1/bin/datenbank.dll does not export exactly one entry: $(grep 'Export Address Table' "$work/$1.objdump")"
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' "$work/$1.objdump")
  [ "$exports" = _CreateDatenbankClassInstance ] ||
    fail "$1/bin/datenbank.dll exports '$exports', not only _CreateDatenbankClassInstance"
  echo "$1/bin/datenbank.dll: $format, exports $exports"
}
check_dll x86 i686-w64-mingw32 pei-i386
check_dll x64 x86_64-w64-mingw32 pei-x86-64

# run_tool WIDTH BUILD: the unpacked tool of that width runs under the build's Wine loader and
# loads the datenbank.dll beside it.
run_tool() {
  local wine=$2/wine.sh
  [ -x "$wine" ] || fail "no $wine to run the $1 tool with"
  env -u DATENBANK_LIBRARY "$wine" "$unpacked/$1/bin/datenbank.exe" info | tee "$work/$1.info" ||
    fail "the zipped $1 tool failed"
  grep -q '^module: Ovelt Datenbank' "$work/$1.info" || fail "the zipped $1 tool did not run"
  grep -Eq "^library: .*\\\\$top\\\\$1\\\\bin\\\\datenbank\.dll"$'\r?$' "$work/$1.info" ||
    fail "the zipped $1 tool did not load $1\\bin\\datenbank.dll beside it"
}
run_tool x64 "$windows64_build"
if why=$(tools/runs_i386.sh); then
  run_tool x86 "$windows32_build"
else
  echo "NOT RUN: x86/bin/datenbank.exe under Wine ($why); x86/bin/datenbank.dll was read with objdump only."
fi
echo "Packages passed."
