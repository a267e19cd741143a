#!/usr/bin/env bash
# The peer comparison: the module against the CSV readers and writers a user of a delimited file
# would otherwise reach for, on four generated shapes of file, with one Markdown table per shape.
#
#   bench/compare.sh [--size-mb N] [--rounds N] [--shapes A,B,C,D] [--out FILE]
#                    [--build-dir DIR] [--work-dir DIR] [--keep] [--library FILE] [--no-install]
#
#   --size-mb N     scales every shape (default 100: A = 1M lines x 10 fields of 3-15 B, about
#                   101 MB; B = 100k lines x 4 fields of 200-300 B, about 100 MB; C = 5M lines x
#                   2 fields of 1-8 B, about 60 MB; D = 2,000 lines of one field of 500-700 KiB,
#                   about 1.2 GB)
#   --rounds N      measurements per contender and shape, taken round robin (default 5)
#   --shapes LIST   which shapes, of A, B, C and D (default all)
#   --out FILE      also write the report to FILE
#   --build-dir DIR the Release build to make and measure (default build/compare)
#   --work-dir DIR  where the inputs go (default a new folder in /tmp, removed afterwards)
#   --keep          keep the inputs and the saved files
#   --library FILE  measure this libdatenbank.so instead of the one the build makes
#   --baseline FILE also measure the load and append of this libdatenbank.so (say, one built from
#                   an earlier commit) in the same rounds
#   --no-install    do not install missing Debian packages; fail instead
#
# It installs the peers from Debian when they are missing (libfccp-dev, libcsv-dev, python3-pandas,
# sqlite3), builds the library and the measuring programs (bench/peers) in Release, and hands over
# to bench/compare.py, which runs every measurement in a fresh process.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$repo/build/compare
install=1
driver_args=()
command_line="bench/compare.sh"
for arg in "$@"; do
  command_line+=" $arg"
done

while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir)
      [ $# -ge 2 ] || { echo "compare.sh: --build-dir needs a value" >&2; exit 2; }
      build_dir=$2
      shift 2
      ;;
    --no-install)
      install=0
      shift
      ;;
    --keep)
      driver_args+=("$1")
      shift
      ;;
    --size-mb | --rounds | --shapes | --out | --work-dir | --library | --baseline)
      [ $# -ge 2 ] || { echo "compare.sh: $1 needs a value" >&2; exit 2; }
      driver_args+=("$1" "$2")
      shift 2
      ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "compare.sh: unknown option $1 (see --help)" >&2
      exit 2
      ;;
  esac
done
case "$build_dir" in
  /*) ;;
  *) build_dir=$PWD/$build_dir ;;
esac

python=/usr/bin/python3  # the system interpreter: pandas comes from Debian's python3-pandas

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for package in libfccp-dev libcsv-dev python3-pandas sqlite3; do
  installed "$package" || missing+=("$package")
done
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
[ -x "$python" ] || missing+=(python3)
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$install" = 0 ] || [ "$(id -u)" != 0 ]; then
    echo "compare.sh: missing ${missing[*]}; install them (as root: apt-get install ${missing[*]})" >&2
    exit 1
  fi
  echo "compare.sh: installing ${missing[*]}" >&2
  apt-get update -qq
  updated=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# rapidcsv is measured only if Debian packages it; say which way it went. The search needs the
# package lists, which a fresh machine does not have yet.
if [ "$updated" = 0 ] && [ "$install" = 1 ] && [ "$(id -u)" = 0 ] &&
  ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
  apt-get update -qq
fi
rapidcsv=$(apt-cache search rapidcsv 2>/dev/null | head -3 | tr '\n' ' ')
if [ -z "$rapidcsv" ]; then
  rapidcsv_note="not measured: no Debian package (\`apt-cache search rapidcsv\` finds nothing)"
else
  rapidcsv_note="not measured: Debian has ${rapidcsv% } but no peer program is written for it"
fi

echo "compare.sh: building in $build_dir" >&2
cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DDATENBANK_BUILD_TESTS=OFF -DDATENBANK_BENCH_PEERS=ON >/dev/null
cmake --build "$build_dir" -j2 --target datenbank datenbank_bench bench_peers >&2

exec "$python" "$repo/bench/compare.py" --build-dir "$build_dir" \
  --rapidcsv-note "$rapidcsv_note" --command "$command_line" "${driver_args[@]}"
