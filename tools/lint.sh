#!/usr/bin/env bash
# The linters the repository configures, and the layer order, as a gate:
#   0. tools/check_layers.py: the library's folders include one way (README.md, "Layout");
#   1. clang-format (.clang-format): every C and C++ file is formatted; a file that is not fails,
#      with the diff that would fix it;
#   2. clang-tidy (.clang-tidy): the library's own sources have no finding. The compile commands
#      come from the dev preset's build (configured here when it is not yet).
#
# Usage: tools/lint.sh [--fix]   (--fix formats the files in place instead of checking them)
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h' '*.inc' '*.cc' '*.hpp' 2>/dev/null ||
  find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) -print)
if [ "${1:-}" = --fix ]; then
  clang-format -i "${sources[@]}"
  exit 0
fi

status=0
python3 tools/check_layers.py || status=1

unformatted=()
for file in "${sources[@]}"; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    unformatted+=("$file")
    clang-format "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" - || true
  fi
done
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "clang-format: ${#unformatted[@]} file(s) not formatted: ${unformatted[*]}" >&2
  echo "(tools/lint.sh --fix formats them)" >&2
  status=1
else
  echo "clang-format: ${#sources[@]} files formatted"
fi

# The library is what ships: its sources are checked, the Win32 ones with the Windows build's
# compile commands, compiled by clang for the same target against MinGW-w64's headers.
tidy() {  # tidy BUILD_DIR FILE...: clang-tidy over the files that BUILD_DIR compiles
  local build=$1 file checked=()
  for file in "${@:2}"; do
    grep -q "\"file\": \"[^\"]*/$file\"" "$build/compile_commands.json" && checked+=("$file")
  done
  if [ ${#checked[@]} -eq 0 ]; then
    echo "clang-tidy: $build compiles none of $*" >&2
    return 1
  fi
  clang-tidy -p "$build" --quiet --warnings-as-errors='*' "${checked[@]}" >"$findings" 2>&1 &&
    ! grep -q 'warning:\|error:' "$findings" && echo "clang-tidy: ${#checked[@]} files clean"
}
findings=$(mktemp)
scratch=$(mktemp -d)
trap 'rm -rf "$findings" "$scratch"' EXIT

cmake --preset dev >/dev/null  # brings the compile commands up to date
report() { grep -v 'warnings\? generated\.$' "$findings" >&2; }
if ! tidy build/dev platform/*.cpp texts/*.cpp store/*.cpp engines/*.cpp table/*.cpp module/*.cpp; then
  report
  status=1
fi

mingw=i686-w64-mingw32-g++-posix
if command -v "$mingw" >/dev/null 2>&1; then
  cmake --preset windows >/dev/null
  includes=$(echo | "$mingw" -x c++ -E -v - 2>&1 |
    sed -n '/#include <...> search starts here:/,/End of search list/s/^ \(.*\)/-isystem \1/p' |
    tr '\n' ' ')
  sed -e "s#\"[^\" ]*$mingw #\"clang++ --target=i686-w64-mingw32 -nostdinc $includes #" \
    -e 's/ -fno-keep-inline-dllexport//' -e 's/ -mno-stv//' build/windows/compile_commands.json \
    >"$scratch/compile_commands.json"
  if ! tidy "$scratch" platform/*_win32.cpp module/*_win32.cpp; then
    report
    status=1
  fi
elif [ "${DATENBANK_TESTS:-}" = quick ]; then
  echo "clang-tidy: the Win32 sources are left out (no MinGW-w64; tools/install_deps.sh --windows)"
else
  echo "clang-tidy: the Win32 sources need MinGW-w64's headers: tools/install_deps.sh --windows" >&2
  status=1
fi
exit "$status"
