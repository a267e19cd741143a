# Cross build of the 32-bit Windows library and its tests with Debian's MinGW-w64
# (g++-mingw-w64-i686). The -posix compiler variants are used: GoogleTest needs their threading
# support. Test executables run under Wine, in a Wine prefix inside the build directory.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(DB_MINGW_TRIPLET i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${DB_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DB_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DB_MINGW_TRIPLET}-windres REQUIRED)
find_program(DB_MINGW_OBJDUMP NAMES ${DB_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${DB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Executables carry libgcc, libstdc++ and winpthread inside: Wine then needs no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Every test runs as "env WINEPREFIX=... WINEDEBUG=-all LC_ALL=C.UTF-8 wine <exe>". The prefix lives
# in the build directory so that a build never touches the user's own ~/.wine; the first start
# creates it. Wine stores Windows file names in the Unix locale's character set: under the POSIX
# locale a name such as "Straße.csv" cannot be stored, so the tests fix a UTF-8 locale.
set(DATENBANK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix"
    CACHE PATH "Wine prefix in which the Windows tests run")
find_program(DB_WINE NAMES wine)
if(DB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env "WINEPREFIX=${DATENBANK_WINEPREFIX}" "WINEDEBUG=-all" "LC_ALL=C.UTF-8"
      "${DB_WINE}")
endif()
