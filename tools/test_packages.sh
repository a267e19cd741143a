#!/usr/bin/env bash
# Builds the packages with CPack and checks what is in them:
#   - the Debian package of the Linux build (LINUX_BUILD_DIR, default build/default): its files,
#     its control fields, and the tool run from the unpacked tree;
#   - the zip of the Windows build (WINDOWS_BUILD_DIR, default build/windows) when that build
#     exists: DLL, header and tool, and the tool run from the unpacked zip under Wine.
# Both builds must be built already (tools/test_all.sh builds them first).
#
# Usage: tools/test_packages.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
# Exit status: 0 passed; 1 a check failed; 3 the Windows build is missing (the Debian package was
# still made and checked).
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build/default}
windows_build=${2:-build/windows}
work=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-packages.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
version=$(cut -d. -f1-3 VERSION | head -n1)

echo "=== Debian package of $linux_build"
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

if [ ! -f "$windows_build/CMakeCache.txt" ]; then
  echo "No Windows build in $windows_build (tools/test_windows.sh makes it): no zip made." >&2
  exit 3
fi
echo "=== zip of $windows_build"
rm -rf "$windows_build/packages"
(cd "$windows_build" && cpack -G ZIP >/dev/null)
zip=$windows_build/packages/ovelt-datenbank-$version-win32.zip
[ -f "$zip" ] || fail "no $zip"
python3 - "$zip" "$work/zip" <<'PYTHON'
import sys
import zipfile

path, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(path) as archive:
    names = archive.namelist()
    top = f"ovelt-datenbank-{path.rsplit('ovelt-datenbank-', 1)[1][:-len('.zip')]}/"
    for wanted in ("bin/datenbank.dll", "bin/datenbank.exe", "include/datenbank.h"):
        if top + wanted not in names:
            sys.exit(f"{path} lacks {top + wanted}; it holds {names}")
    for name in names:
        print(f"  {name}")
    archive.extractall(target)
PYTHON
if command -v wine >/dev/null 2>&1; then
  # The tool in the unpacked zip finds datenbank.dll beside it.
  WINEPREFIX=$(cd "$windows_build" && pwd)/wineprefix WINEDEBUG=-all \
    wine "$work"/zip/ovelt-datenbank-*/bin/datenbank.exe info |
    tee "$work/info.txt"
  grep -q '^module: Ovelt Datenbank' "$work/info.txt" || fail "the zipped tool did not run"
fi
echo "Packages passed."
