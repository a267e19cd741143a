#!/usr/bin/env bash
# Builds and runs every test: the default build, the AddressSanitizer/UndefinedBehaviorSanitizer
# build, the ThreadSanitizer build, the 32-bit Windows build under Wine when its toolchain is
# installed, the packages (tools/test_packages.sh), and each fuzz target for a bounded time when
# clang's libFuzzer is installed (DATENBANK_FUZZ_SECONDS, default 60 per target).
# With CI=true a Windows suite or a fuzz run that cannot run is a failure, not a skip.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_preset() {
  echo "=== $1 build"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

run_preset default
run_preset sanitize
run_preset tsan

if [ -x tools/test_windows.sh ]; then
  echo "=== windows build (32-bit DLL under Wine)"
  status=0
  tools/test_windows.sh build/default || status=$?
  if [ "$status" -eq 3 ]; then
    if [ "${CI:-}" = "true" ]; then
      echo "The Windows suite could not run in CI: that is a failure." >&2
      exit 1
    fi
    echo "SKIPPED the Windows suite: its toolchain is missing (see the message above;" \
      "bash .ci/install_windows_toolchain.sh installs it as root)."
  elif [ "$status" -ne 0 ]; then
    exit "$status"
  fi
fi
# ---- packages: the Debian package of build/default, the zip of build/windows ----
echo "=== packages (CPack)"
status=0
tools/test_packages.sh build/default build/windows || status=$?
if [ "$status" -eq 3 ]; then
  if [ "${CI:-}" = "true" ]; then
    echo "The Windows zip could not be made in CI: that is a failure." >&2
    exit 1
  fi
  echo "SKIPPED the Windows zip: there is no Windows build."
elif [ "$status" -ne 0 ]; then
  exit "$status"
fi
# ---- end of packages ----
echo "=== fuzz targets (libFuzzer, ${DATENBANK_FUZZ_SECONDS:-60} s each)"
if command -v clang++ >/dev/null 2>&1 &&
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  fuzz/run_fuzzers.sh "${DATENBANK_FUZZ_SECONDS:-60}" 1
elif [ "${CI:-}" = "true" ]; then
  echo "The fuzz targets could not run in CI (clang and libclang-rt-14-dev are needed)." >&2
  exit 1
else
  echo "SKIPPED the fuzz targets: clang with libFuzzer is missing (Debian: clang libclang-rt-14-dev)."
fi
echo "All test suites passed."
