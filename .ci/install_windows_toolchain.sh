#!/bin/sh
# Installs what the 32-bit Windows build of the module and its Wine-run tests need,
# on a Debian 12 machine, as root. Safe to run again: every step is idempotent.
#   g++-mingw-w64-i686   i686-w64-mingw32-g++-posix, windres, objdump (binutils-mingw-w64-i686)
#   wine, wine32:i386    runs the 32-bit test executables and the C host
#   googletest           the sources in /usr/src/googletest, built with the cross compiler
#   cmake, ninja-build   the "windows" preset
set -eu

export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
    echo "install_windows_toolchain.sh: must run as root" >&2
    exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

apt-get update
apt-get install -y --no-install-recommends \
    ca-certificates \
    cmake \
    ninja-build \
    googletest \
    g++-mingw-w64-i686 \
    binutils-mingw-w64-i686 \
    wine \
    wine32:i386

# The -posix variants carry std::thread/std::mutex, which GoogleTest needs.
for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-gcc-posix i686-w64-mingw32-windres \
    i686-w64-mingw32-objdump wine; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "install_windows_toolchain.sh: $tool missing after install" >&2
        exit 1
    fi
done
