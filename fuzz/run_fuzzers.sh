#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time on a scratch copy of its seed corpus.
#
#   fuzz/run_fuzzers.sh [SECONDS] [JOBS]
#
# SECONDS per target (default 60); JOBS parallel fuzzing processes per target (default 1; more than
# 1 uses libFuzzer's -fork mode). The targets run one after the other. Prints each target's
# executions, coverage and final corpus size, and exits non-zero when any target found a crash, a
# leak, a timeout or ran out of memory; its reproducers are kept and listed.
#
# Environment: DATENBANK_FUZZ_BUILD_DIR (default build/fuzz), DATENBANK_FUZZ_WORK_DIR (default
# <build dir>/fuzz-run: scratch corpora, logs, reproducers), DATENBANK_FUZZ_TARGETS (default
# "load ops csv"; name one to run it alone, e.g. two long runs side by side with their own work
# directories), CMAKE_BUILD_PARALLEL_LEVEL (default 2).
# The repository is not modified: new corpus entries stay in the work directory.
set -euo pipefail

seconds=${1:-60}
jobs=${2:-1}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ && "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS] [JOBS]  (positive whole numbers)" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=${DATENBANK_FUZZ_BUILD_DIR:-$root/build/fuzz}
work=${DATENBANK_FUZZ_WORK_DIR:-$build/fuzz-run}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DDATENBANK_FUZZ=ON \
    -DDATENBANK_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --parallel "${CMAKE_BUILD_PARALLEL_LEVEL:-2}" \
  --target load_fuzzer ops_fuzzer csv_fuzzer

# The fuzzers' own files (tables they load and save) go to tmpfs where there is one.
files_base=/dev/shm
[ -w "$files_base" ] || files_base=${TMPDIR:-/tmp}
files=$(mktemp -d "$files_base/datenbank-fuzz-run.XXXXXX")
trap 'rm -rf "$files"' EXIT
export DATENBANK_FUZZ_TMPDIR=$files
# Every sanitizer report ends the run (the build does not let them recover); LeakSanitizer checks
# every input that allocated more than it freed.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
summary=""
for target in ${DATENBANK_FUZZ_TARGETS:-load ops csv}; do
  case $target in
    load) max_len=65536 ;;
    ops) max_len=4096 ;;
    csv) max_len=16384 ;;
  esac
  dir=$work/$target
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$root/fuzz/corpus/$target/"* "$dir/corpus/"
  log=$dir/fuzz.log
  args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=30 -print_final_stats=1
        -artifact_prefix="$dir/artifacts/")
  if [ "$jobs" -gt 1 ]; then
    args+=(-fork="$jobs")
  fi
  echo "=== ${target}_fuzzer: $seconds s, $jobs job(s), -max_len=$max_len; log in $log"
  result=0
  (cd "$dir" && "$build/fuzz/${target}_fuzzer" "${args[@]}" corpus) >"$log" 2>&1 || result=$?

  # Executions: the final statistics of a single process, or the last status line of -fork mode.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ -z "$execs" ]; then
    execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  fi
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+' || true)
  entries=$(find "$dir/corpus" -type f | wc -l)
  bytes=$(find "$dir/corpus" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  line="${target}_fuzzer: ${execs:-?} executions, cov ${cov:-?}, corpus $entries files / $bytes bytes"
  echo "$line"
  summary+="$line"$'\n'

  artifacts=$(find "$dir/artifacts" -type f | sort)
  if [ "$result" -ne 0 ] || [ -n "$artifacts" ]; then
    status=1
    echo "!!! ${target}_fuzzer failed (exit $result). Reproducers:" >&2
    echo "${artifacts:-  (none written; see the log)}" >&2
    grep -E '^\*\*\*|SUMMARY|ERROR' "$log" | head -20 >&2 || true
    echo "Rerun one with: $build/fuzz/${target}_fuzzer <reproducer>" >&2
  fi
done

echo "=== summary"
printf '%s' "$summary"
if [ "$status" -ne 0 ]; then
  echo "A fuzz target failed; see above." >&2
fi
exit "$status"
