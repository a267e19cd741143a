#!/bin/sh
# Installs the Debian packages that building and testing Ovelt Datenbank needs, and only those
# that are missing. Safe to run again: with everything installed it asks no package server.
#
#   tools/install_deps.sh [--build | --test | --windows | --bench | --all] [--check]
#
#   --build    the library and the datenbank tool: cmake, ninja-build, g++, libcli11-dev (default)
#   --test     --build and everything the Linux suites need: GoogleTest, valgrind, clang with
#              libFuzzer, clang-format, clang-tidy, Python 3 with venv, pip, mypy, its headers,
#              setuptools and wheel (the binding's extension module and wheel), gcc, pkg-config,
#              dpkg-dev and file (the Debian package's library dependencies)
#   --windows  the Windows cross builds of both widths and Wine: wine64 runs the 64-bit build on
#              every x86-64 machine, wine32 the 32-bit one where the kernel runs i386 programs
#              (adds the i386 architecture)
#   --bench    --build and the peers of the command-line benchmark (bench/cli_bench.py): miller
#   --all      --test and --windows: what tools/test_all.sh runs
#   --check    install nothing: list what is missing and the command that installs it (exit 1)
#
# Runs apt-get as root, or through sudo for another user. Exit status: 0 everything is there;
# 1 something is missing and could not be installed (the message says how to install it by hand).
set -eu

build_packages="cmake ninja-build g++ libcli11-dev"
test_packages="libgtest-dev googletest valgrind clang libclang-rt-dev clang-format clang-tidy
python3 python3-venv python3-pip python3-mypy python3-dev python3-setuptools python3-wheel gcc
pkg-config dpkg-dev file"
windows_packages="cmake ninja-build googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 wine32:i386"
bench_packages="miller"

want="" sets="" check_only=false windows=false
for argument in "$@"; do
  case $argument in
    --build) want="$want $build_packages" ;;
    --test) want="$want $build_packages $test_packages" ;;
    --windows) want="$want $windows_packages" windows=true ;;
    --bench) want="$want $build_packages $bench_packages" ;;
    --all) want="$want $build_packages $test_packages $windows_packages" windows=true ;;
    --check) check_only=true ;;
    -h | --help)
      sed -n '2,/^set -eu/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "install_deps.sh: unknown option '$argument' (see --help)" >&2
      exit 2
      ;;
  esac
  [ "$argument" = --check ] || sets="$sets $argument"
done
[ -n "$want" ] || want=$build_packages sets=" --build"
which_set=${sets# }

installed() {  # installed PACKAGE: dpkg knows it as installed
  [ "$(dpkg-query -W -f '${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

missing=""
for package in $want; do
  case " $missing " in *" $package "*) continue ;; esac
  installed "$package" || missing="$missing $package"
done
missing=${missing# }
if [ -z "$missing" ]; then
  echo "install_deps.sh: everything for $which_set is installed."
  exit 0
fi

# The exact command a person would type, as root.
arch_step=""
case " $missing " in
  *":i386 "*) dpkg --print-foreign-architectures | grep -qx i386 ||
    arch_step="dpkg --add-architecture i386 && " ;;
esac
by_hand="${arch_step}apt-get update; apt-get install --no-install-recommends $missing"

if $check_only; then
  echo "install_deps.sh: missing for $which_set: $missing" >&2
  echo "Install them with: tools/install_deps.sh $which_set" >&2
  echo "  (by hand, as root: $by_hand)" >&2
  exit 1
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "install_deps.sh: these packages are missing: $missing" >&2
  echo "Installing them needs root, and there is no sudo. As root, run:" >&2
  echo "  $by_hand" >&2
  echo "(README.md, \"Setting up by hand\", says how to build without root.)" >&2
  exit 1
fi

log=$(mktemp "${TMPDIR:-/tmp}/datenbank-install.XXXXXX")
attempt() {  # attempt COMMAND...: as root, output to the log; the command's status
  $as_root env DEBIAN_FRONTEND=noninteractive "$@" >>"$log" 2>&1
}
give_up() {  # give_up WHAT: the log's end, what failed and what a person can run; exit 1
  tail -n 20 "$log" >&2
  echo "install_deps.sh: $1 failed; the whole output is in $log" >&2
  echo "Packages not installed: $missing" >&2
  echo "By hand, as root: $by_hand" >&2
  exit 1
}

echo "install_deps.sh: installing $missing"
if $windows && ! dpkg --print-foreign-architectures | grep -qx i386; then
  attempt dpkg --add-architecture i386 || give_up "'dpkg --add-architecture i386'"
fi
# One index that a mirror is still syncing makes 'apt-get update' fail although every package
# may be there: what counts is whether the install then succeeds.
if ! attempt apt-get -q update; then
  echo "install_deps.sh: warning: 'apt-get update' failed (below); installing from the lists" \
    "that are there" >&2
  grep '^E:' "$log" | sed 's/^/  /' >&2 || true
fi
install="apt-get -q install -y --no-install-recommends"
if ! attempt $install $missing; then
  # An i386 package needs its amd64 twins at the same version. When the update suite's index of
  # one architecture is missing, only the release suite has both: prefer it and try once more.
  release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  grep -q 'not going to be installed\|Unmet dependencies\|held broken packages' "$log" &&
    [ -n "$release" ] || give_up "'$install $missing'"
  echo "install_deps.sh: the packages' versions do not match across architectures; installing" \
    "again preferring the release suite: $install -t $release ..." >&2
  by_hand="${arch_step}apt-get update; $install -t $release $missing"
  attempt $install -t "$release" $missing || give_up "'$install -t $release $missing'"
fi
rm -f "$log"
echo "install_deps.sh: done."
