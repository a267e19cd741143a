#!/usr/bin/env bash
# Installs a build into a scratch prefix and proves the installed tree: the expected files, the
# installed tool finding the installed library by itself, and a small C++ program built against
# the tree with find_package(Datenbank) and with pkg-config.
#
# Usage: tests/install/test_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

echo "=== cmake --install $build --prefix $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name datenbank.pc)
[ -n "$pc" ] || fail "no datenbank.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for file in include/datenbank.h bin/datenbank share/datenbank/examples/kunden.csv; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for file in libdatenbank.so libdatenbank.so.1 cmake/Datenbank/DatenbankConfig.cmake \
  cmake/Datenbank/DatenbankConfigVersion.cmake cmake/Datenbank/DatenbankTargets.cmake; do
  [ -e "$libdir/$file" ] || fail "$libdir/$file is not installed"
done
man_page=$(find "$prefix" -path '*/man1/datenbank.1*')
[ -n "$man_page" ] || fail "the manual page datenbank(1) is not installed"
cmp "$here/../../include/datenbank.h" "$prefix/include/datenbank.h" ||
  fail "the installed header differs from include/datenbank.h"

echo "=== the installed tool"
# Nothing tells it where the library is: it finds it through its run path ($ORIGIN/../lib).
info=$(env -u LD_LIBRARY_PATH -u DATENBANK_LIBRARY "$prefix/bin/datenbank" info)
echo "$info"
grep -qx 'library: libdatenbank.so.1' <<<"$info" || fail "the tool did not load libdatenbank.so.1"
env -u LD_LIBRARY_PATH "$prefix/bin/datenbank" check "$prefix/share/datenbank/examples/kunden.csv"

echo "=== find_package(Datenbank)"
generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S "$here/consumer" -B "$work/consumer-build" "${generator[@]}" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer-build" >/dev/null
# CMake gives the build tree a run path to the imported library.
out=$("$work/consumer-build/consumer" "$work/cmake.csv")
echo "$out"
[ "$(od -An -c "$work/cmake.csv" | tr -s ' ')" = " S t r a 337 e ; \r \n" ] ||
  fail "the CMake consumer wrote: $(od -c "$work/cmake.csv")"

echo "=== pkg-config datenbank"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs datenbank)
echo "pkg-config: $flags (version $(pkg-config --modversion datenbank))"
"${CXX:-c++}" -std=c++17 "$here/consumer/consumer.cpp" $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH="$libdir" "$work/consumer-pc" "$work/pc.csv"
cmp "$work/cmake.csv" "$work/pc.csv" || fail "the two consumers wrote different files"
echo "Installed tree passed."
