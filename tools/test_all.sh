#!/usr/bin/env bash
# Builds and runs every test, and passes or fails: a suite whose tools are missing is a failure
# that names the command installing them (tools/install_deps.sh --all), never a skip.
#
#   lint       clang-format over every C and C++ file, clang-tidy over the library's sources
#   dev        GCC, warnings as errors: every test (unit suite, fault campaigns, host test also
#              under valgrind, the datenbank tool, the Python binding, the installed tree)
#   clang      Clang, warnings as errors: the unit suite
#   sanitize   Debian's hardening flags (dpkg-buildflags) with AddressSanitizer and
#              UndefinedBehaviorSanitizer at -O2: every test
#   tsan       ThreadSanitizer: every test
#   windows64  the 64-bit DLL under wine64 (tools/test_windows.sh x64): runs on every x86-64 kernel
#   windows32  the 32-bit DLL (tools/test_windows.sh x86): built and read on every machine, run
#              under Wine where the kernel runs i386 programs (tools/runs_i386.sh); where it
#              cannot, the summary names that run as not run, with the reason. DATENBANK_NO_I386=1
#              takes that path on a machine that could run them.
#   packages   the Debian package and the Windows zip of both widths (tools/test_packages.sh)
#   fuzz       each libFuzzer target for DATENBANK_FUZZ_SECONDS (default 60) seconds
#
# DATENBANK_TESTS=quick runs only lint and dev, and the summary names what it left out.
set -euo pipefail
cd "$(dirname "$0")/.."
# Under env -i bash makes up a PATH for itself but passes none on: the suites need it too.
export PATH
jobs=$(nproc 2>/dev/null || echo 2)
mode=${DATENBANK_TESTS:-all}
case $mode in
  all) stages="lint dev clang sanitize tsan windows64 windows32 packages fuzz" deps=--all ;;
  quick) stages="lint dev" deps=--test ;;
  *)
    echo "test_all.sh: DATENBANK_TESTS is 'all' (the default) or 'quick', not '$mode'" >&2
    exit 2
    ;;
esac
tools/install_deps.sh "$deps" --check

# A root shell without HOME (env -i, some containers): Wine and pip want a home of their own.
if [ -z "${HOME:-}" ] || [ ! -d "$HOME" ]; then
  HOME=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-home.XXXXXX")
  export HOME
fi

summary=()
stage_note=""  # a stage that passed with a part left out says so here
stage() {  # stage NAME COMMAND...: runs it, times it, stops everything when it fails
  local started=$SECONDS
  echo "=== $1"
  if ! "${@:2}"; then
    echo "=== FAILED: $1 (rerun: ${*:2})" >&2
    exit 1
  fi
  summary+=("$(printf '%-9s passed in %4d s%s' "$1" $((SECONDS - started)) "$stage_note")")
  stage_note=""
}

# Every step returns its failure itself: stage() calls these in a condition, where errexit is off.
preset() {  # preset NAME [CMAKE_ARGS...]: configure, build and test one preset
  cmake --preset "$1" "${@:2}" >/dev/null || return 1
  cmake --build --preset "$1" -j "$jobs" || return 1
  ctest --preset "$1" -j "$jobs" --no-tests=error | tee "build/$1/ctest.log" || return 1
  no_skips "build/$1"
}

# What could not run on this machine, each with its reason: the summary names them all.
not_run=()

# A test that skips itself did not run. As root everything can run, so a skip is a failure, with
# the reason the test gave; another user cannot make a file immutable or mount a tmpfs, and those
# tests are named in the summary as not run.
no_skips() {  # no_skips BUILD_DIR
  local skipped
  skipped=$(sed -n '/The following tests did not run/,/^$/s/^[[:space:]]*[0-9]* - //p' \
    "$1/ctest.log")
  [ -n "$skipped" ] || return 0
  grep -h '\[  SKIPPED \]\|Skipped' -B2 "$1/Testing/Temporary/LastTest.log" >&2 || true
  if [ "$(id -u)" -eq 0 ]; then
    echo "test_all.sh: tests skipped themselves in $1 (reasons above): $skipped" >&2
    return 1
  fi
  not_run+=("$1: $(echo $skipped) (they need root: sudo tools/test_all.sh runs them)")
}

# Debian's own hardening flags, as a package build gets them.
hardened() {
  local cpp
  cpp=$(dpkg-buildflags --get CPPFLAGS)
  preset sanitize \
    -DCMAKE_C_FLAGS="$cpp $(dpkg-buildflags --get CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$cpp $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
}

# The 32-bit DLL is built and read everywhere; its run under Wine needs a kernel that runs i386
# programs (tools/test_windows.sh exits 4 where it has checked what it could without one).
windows32() {
  local status=0
  tools/test_windows.sh x86 build/dev || status=$?
  if [ "$status" -eq 4 ]; then
    stage_note=" (its checks without Wine; see NOT RUN)"
    not_run+=("windows32: the unit suite, C host, tool and round trip under Wine: $(tools/runs_i386.sh)")
    return 0
  fi
  return "$status"
}

fuzz() {
  fuzz/run_fuzzers.sh "${DATENBANK_FUZZ_SECONDS:-60}" 1
}

for name in $stages; do
  case $name in
    lint) stage lint tools/lint.sh ;;
    dev) stage dev preset dev ;;
    clang) stage clang preset clang ;;
    sanitize) stage sanitize hardened ;;
    tsan) stage tsan preset tsan ;;
    windows64) stage windows64 tools/test_windows.sh x64 build/dev ;;
    windows32) stage windows32 windows32 ;;
    packages) stage packages tools/test_packages.sh build/dev build/windows64 build/windows ;;
    fuzz) stage fuzz fuzz ;;
  esac
done

echo "=== test_all.sh: every stage"
printf '%s\n' "${summary[@]}"
if [ ${#not_run[@]} -ne 0 ]; then
  echo "NOT RUN on this machine:"
  printf '  %s\n' "${not_run[@]}"
fi
if [ "$mode" = quick ]; then
  echo "left out by DATENBANK_TESTS=quick: clang, sanitize, tsan, windows64, windows32, packages, fuzz"
fi
echo "All test suites passed."
