#!/usr/bin/env bash
# Tells whether this kernel runs 32-bit x86 (i386) programs, by running one: a 93-byte static ELF
# program that only exits with status 0. Kernels built without IA-32 emulation, or started with
# it turned off, answer "Exec format error"; nothing is guessed from uname.
#
# Usage: tools/runs_i386.sh
# Exit status: 0 it runs them; 1 it does not, with the reason on standard output.
# DATENBANK_NO_I386=1 answers 1 without asking the kernel: a machine that runs them can take the
# path of one that does not.
set -uo pipefail
if [ "${DATENBANK_NO_I386:-}" = 1 ]; then
  echo "DATENBANK_NO_I386=1 says to act as if the kernel could not run i386 programs"
  exit 1
fi
probe=$(mktemp "${TMPDIR:-/tmp}/datenbank-i386.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one loadable segment (32 bytes) at 0x08048000 holding the whole file, and
# the code at its entry 0x08048054: mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80.
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$probe"
printf '\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0' >>"$probe"
printf '\270\1\0\0\0\61\333\315\200' >>"$probe"
chmod +x "$probe"
if output=$("$probe" 2>&1); then
  exit 0
fi
echo "this kernel cannot run i386 programs (a static i386 program that only exits: ${output:-status $?})"
exit 1
