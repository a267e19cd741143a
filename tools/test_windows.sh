#!/usr/bin/env bash
# Builds a Windows DLL of one width and proves it under Wine:
#   1. the whole unit suite, the C host, the export check and the tool's smoke round (ctest);
#   2. saves through dangling symbolic links, by datenbank.exe;
#   3. the export table and imports of datenbank.dll, read with objdump; for x86 also that SSE2
#      stays inside the SSE2 kernels and that those inline their helpers;
#   4. the round trip against the Linux library of LINUX_BUILD_DIR.
#
# Usage: tools/test_windows.sh [x64 | x86] [LINUX_BUILD_DIR]   (defaults: x64, build/default)
#   x64   preset windows64 (build/windows64) under wine64: runs on every x86-64 kernel.
#   x86   preset windows (build/windows) under Wine's 32-bit loader. Where the kernel cannot run
#         i386 programs (tools/runs_i386.sh asks it; DATENBANK_NO_I386=1 acts as if), the DLL is
#         still built and gets every check that reads it (3.), and the steps under Wine are named
#         as not run; the exit status is then 4.
# Exit status: 0 all passed; 1 a step failed; 2 wrong usage; 3 the cross toolchain or Wine is
# missing (the message names the packages; tools/install_deps.sh --windows installs them); 4 the
# x86 checks that need no Wine passed and the rest could not run on this kernel.
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
width=x64
case ${1:-} in
    x64 | x86) width=$1 && shift ;;
esac
if [ $# -gt 1 ]; then
    echo "usage: tools/test_windows.sh [x64 | x86] [LINUX_BUILD_DIR]" >&2
    exit 2
fi
linux_build=${1:-build/default}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
if [ "$width" = x64 ]; then
    preset=windows64 triplet=x86_64-w64-mingw32 package_arch=x86-64
else
    preset=windows triplet=i686-w64-mingw32 package_arch=i686
fi
windows_build=build/$preset

# Whether Wine runs this width here: the 64-bit loader runs on every x86-64 kernel, the 32-bit one
# only where the kernel runs i386 programs.
under_wine=true not_run_reason=""
if [ "$width" = x86 ] && ! not_run_reason=$(tools/runs_i386.sh); then
    under_wine=false
fi

# ---- what the suite needs, and which Debian package brings it ----
missing=()
need() {  # need COMMAND_OR_PATH PACKAGE
    if [[ $1 == /* ]]; then
        [ -e "$1" ] || missing+=("$2 (for $1)")
    else
        command -v "$1" >/dev/null 2>&1 || missing+=("$2 (for $1)")
    fi
}
need cmake cmake
need ninja ninja-build
need "$triplet-gcc-posix" "gcc-mingw-w64-$package_arch-posix"
need "$triplet-g++-posix" "g++-mingw-w64-$package_arch-posix"
need "$triplet-windres" "binutils-mingw-w64-$package_arch"
need "$triplet-objdump" "binutils-mingw-w64-$package_arch"
need /usr/src/googletest/googletest/CMakeLists.txt googletest
need python3 python3
if $under_wine; then
    need wineserver wine
    if [ "$width" = x64 ]; then
        need /usr/lib/wine/wine64 wine64
    else
        need wine wine
        need /usr/lib/wine/wine wine32:i386
    fi
fi
if [ ${#missing[@]} -ne 0 ]; then
    echo "The Windows suite ($width) cannot run; missing:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "Install them with: tools/install_deps.sh --windows" >&2
    exit 3
fi

failed=()
step() {  # step NAME COMMAND...
    echo "=== $1"
    if ! "${@:2}"; then
        echo "=== FAILED: $1"
        failed+=("$1")
        return 1
    fi
}

export WINEPREFIX="$source_dir/$windows_build/wineprefix"
export WINEDEBUG=-all
# Wine keeps Windows file names in the Unix locale's character set: the POSIX locale has no "ß".
export LC_ALL=C.UTF-8

step "configure (preset $preset)" cmake --preset "$preset" -DDATENBANK_BUILD_TESTS=ON \
    -DDATENBANK_WERROR=ON -DDATENBANK_REQUIRE_ALL=ON || exit 1
step "build (preset $preset)" cmake --build --preset "$preset" -j "$jobs" || exit 1
# Every program of this build runs through it: the loader of this width, in this build's prefix.
wine_run=$source_dir/$windows_build/wine.sh

# Wine's first start creates the prefix (about 20 s); done once here rather than inside a test.
# One wineserver for the whole run: a client that connects while a server is shutting down after
# its idle time fails with "recvmsg: Connection reset by peer". "wineserver -p" starts a persistent
# server only where none runs (with one running it exits 2 and changes nothing), so the server
# wineboot started is waited out first. Wine's background services start with the first program
# a server runs and keep that program's output open: a program run here starts them with output
# to nowhere, or ctest would wait for them on the first test's pipe.
start_wine() {
    "$wine_run" wineboot --init || return 1
    wineserver -w
    wineserver -p || return 1
    trap 'wineserver -k 2>/dev/null' EXIT
    "$wine_run" cmd /c exit </dev/null >/dev/null 2>&1
}

# A test that skips itself did not run: a failure here, as in tools/test_all.sh.
windows_ctest() {
    ctest --preset "$preset" -j "$jobs" | tee "$windows_build/ctest.log" || return 1
    if grep -q 'The following tests did not run' "$windows_build/ctest.log"; then
        echo "tests were skipped under Wine (listed above)" >&2
        return 1
    fi
}

# A dangling symbolic link, made here: a Windows program under Wine cannot make one
# (CreateSymbolicLinkA answers TRUE and makes nothing). A save through the DLL creates the file the
# link names and the link stays, as a plain write would; a link into a missing directory, or a save
# that fails once that file is made (no room for a temporary name beside it), leaves no file.
dangling_link_cases() {  # in an empty scratch directory
    cp "$source_dir/$windows_build/tools/datenbank.exe" "$source_dir/$windows_build/datenbank.dll" . &&
        printf 'a;b\r\n' >in.csv && printf 'a;b\r\nc;d\r\n' >expected.csv &&
        mkdir sub && ln -s named.csv sub/l.csv || return 1
    # Directories of 247 and 250 characters as Wine names them ("Z:" and the Unix path), the last
    # separator included: "n.csv" fits beside both, the 12-character short temporary name beside
    # the first only.
    local length dirs=() failures=0 name target named want got
    for length in 247 250; do
        [ $((length - ${#PWD} - 9)) -gt 0 ] || { echo "$PWD is too long for these cases" >&2; return 1; }
        dirs+=("l$length/$(head -c $((length - ${#PWD} - 9)) /dev/zero | tr '\0' d)")
        mkdir -p "${dirs[-1]}" || return 1
    done
    while read -r name target named want; do
        ln -s "$target" "$name"
        got=refused
        "$wine_run" ./datenbank.exe add in.csv c d -d ';' -o "$name" >"$name.out" 2>&1 && got=saved
        if [ "$got" != "$want" ] || [ "$(readlink "$name")" != "$target" ] ||
            { [ "$want" = saved ] && ! cmp -s expected.csv "$named"; } ||
            { [ "$want" = refused ] && [ -e "$named" ]; }; then
            echo "FAILED: $name -> $target: $got (want $want), the link $(readlink "$name")," \
                "$named $([ -e "$named" ] && echo exists || echo missing): $(cat "$name.out")"
            failures=$((failures + 1))
        fi
    done <<CASES
beside.csv named.csv named.csv saved
chain.csv sub/l.csv sub/named.csv saved
nodir.csv none/x.csv none/x.csv refused
room.csv ${dirs[0]}/n.csv ${dirs[0]}/n.csv saved
noroom.csv ${dirs[1]}/n.csv ${dirs[1]}/n.csv refused
CASES
    find . -name '*.tmp' | grep . && failures=$((failures + 1))
    echo "dangling links: $failures failure(s) in 5 cases"
    [ "$failures" -eq 0 ]
}
check_dangling_links() {
    local scratch status
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/datenbank-links.XXXXXX") || return 1
    (cd "$scratch" && dangling_link_cases)
    status=$?
    rm -rf "$scratch"
    return "$status"
}

check_exports() {
    local listing exports imports
    listing=$("$triplet-objdump" -p "$windows_build/datenbank.dll") || return 1
    local machine
    machine=$(printf '%s\n' "$listing" | sed -n 's/.*file format //p' | head -n 1)
    echo "file format: $machine"
    case $width/$machine in
    x64/pei-x86-64 | x86/pei-i386) ;;
    *)
        echo "want the $width file format, not $machine" >&2
        return 1
        ;;
    esac
    exports=$(printf '%s\n' "$listing" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
    imports=$(printf '%s\n' "$listing" | sed -n 's/^[[:space:]]*DLL Name: //p')
    echo "exports: $(echo $exports)"
    echo "imports: $(echo $imports)"
    if [ "$exports" != "_CreateDatenbankClassInstance" ]; then
        echo "want exactly one export, _CreateDatenbankClassInstance" >&2
        return 1
    fi
    local name
    for name in $imports; do
        case "${name,,}" in
        kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
        *)
            echo "datenbank.dll needs $name, which is not a system DLL" >&2
            return 1
            ;;
        esac
    done
}

# The version resource, read from the file: the numbers of VERSION, the German block of code page
# 1252 and the module's name.
check_version_resource() {
    local resource version numbers
    resource=$("$triplet-windres" -J coff -O rc -i "$windows_build/datenbank.dll") || return 1
    version=$(head -n 1 VERSION)
    numbers=${version//./, }
    local want
    for want in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" 'BLOCK "040704E4"' \
        "VALUE \"FileVersion\", \"$version\"" 'VALUE "OriginalFilename", "datenbank.dll"' \
        'VALUE "ProductName", "Ovelt Datenbank"' 'VALUE "Translation", 0x407, 1252'; do
        if ! grep -qF "$want" <<<"$resource"; then
            printf '%s\n' "$resource" >&2
            echo "the version resource above lacks: $want" >&2
            return 1
        fi
    done
    echo "version resource $version, block 040704E4, translation 0x407/1252"
}

# The DLL must start on processors without SSE2: only the SSE2 kernels (namespace sse2, class
# TDatenbankSse2), which run where the processor has it, may hold SSE instructions. A function
# outside them that the compiler gave an xmm register would crash such a processor.
check_sse2_confined() {
    local users
    users=$("$triplet-objdump" -d --no-show-raw-insn "$windows_build/datenbank.dll" |
        awk '/^[0-9a-f]+ <.*>:$/ { name = $2 } /xmm[0-9]/ { print name }' | sort -u)
    echo "functions with SSE2 instructions:"
    printf '  %s\n' $users
    if [ -z "$users" ]; then
        echo "no SSE2 kernel found in the DLL" >&2
        return 1
    fi
    if printf '%s\n' $users | grep -v -i 'sse2'; then
        echo "the functions above use SSE2 outside the SSE2 kernels" >&2
        return 1
    fi
}

# The SSE2 kernels must inline the small helpers they share with the portable code (bit scans,
# the writer's and the record's accessors): a call per field or per window costs the 32-bit DLL
# a third of its speed. GCC does so only where both agree on every target option (-mno-stv in
# CMakeLists.txt). A direct call from a kernel to a C++ function of a few instructions is one left
# out (the C runtime's imports are calls by design).
check_sse2_inlined() {
    "$triplet-objdump" -d --no-show-raw-insn -C "$windows_build/datenbank.dll" | python3 -c '
import re, sys
starts, calls, current = [], [], None
for line in sys.stdin:
    head = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
    if head:
        current = head.group(2)
        starts.append((int(head.group(1), 16), current))
        continue
    call = re.search(r"\tcall +[0-9a-f]+ <(.*)>", line)
    if call and current and "sse2" in current.lower() and "sse2" not in call.group(1).lower():
        calls.append((current, call.group(1)))
sizes = {name: b[0] - a[0] for a, b in zip(starts, starts[1:]) for name in [a[1]]}
small = sorted({f"{caller} -> {name}" for caller, name in calls
                if "(" in name and sizes.get(name, 1000) < 48})
for entry in small:
    print(entry)
sys.exit(1 if small else 0)' || { echo "the SSE2 kernels above call small helpers out of line" >&2; return 1; }
}

# ---- the steps: those that read the DLL, then those that run it under Wine ----
step "export table, imports and file format of datenbank.dll ($width)" check_exports
step "version resource of datenbank.dll ($width)" check_version_resource
# On x64 every processor has SSE2, and the compiler uses it everywhere.
if [ "$width" = x86 ]; then
    step "SSE2 only inside the SSE2 kernels of datenbank.dll" check_sse2_confined
    step "SSE2 kernels of datenbank.dll inline their helpers" check_sse2_inlined
fi
if $under_wine; then
    step "wineboot $WINEPREFIX" start_wine || exit 1
    step "unit suite, C host and tool under Wine ($width)" windows_ctest
    step "dangling symbolic links saved through datenbank.dll under Wine ($width)" \
        check_dangling_links
    if [ -f "$linux_build/CMakeCache.txt" ]; then
        step "Linux library in $linux_build" cmake --build "$linux_build" -j "$jobs" --target datenbank
    fi
    step "round trip Linux <-> Wine ($width)" tests/cross/round_trip.sh "$linux_build" "$windows_build"
fi

if [ ${#failed[@]} -ne 0 ]; then
    echo "Windows suite ($width) FAILED:" >&2
    printf '  %s\n' "${failed[@]}" >&2
    exit 1
fi
if ! $under_wine; then
    echo "Windows suite ($width): the checks that read the DLL passed. NOT RUN: the unit suite," \
        "C host, tool, links and round trip under Wine: $not_run_reason."
    exit 4
fi
echo "Windows suite ($width) passed."
