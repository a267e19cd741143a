# What both Windows cross builds share, for Debian's MinGW-w64: the toolchain file of each width
# sets CMAKE_SYSTEM_PROCESSOR, DB_MINGW_TRIPLET and DB_WINE_LOADER, then includes this file. The
# -posix compiler variants are used: GoogleTest needs their threading support. Test executables
# run under Wine, in a Wine prefix inside the build directory.
set(CMAKE_SYSTEM_NAME Windows)

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

# Every test runs as "env WINEPREFIX=... WINEDEBUG=-all LC_ALL=C.UTF-8 <loader> <exe>". The prefix
# lives in the build directory so that a build never touches the user's own ~/.wine; the first
# start creates it. Wine stores Windows file names in the Unix locale's character set: under the
# POSIX locale a name such as "Straße.csv" cannot be stored, so the tests fix a UTF-8 locale.
set(DATENBANK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix"
    CACHE PATH "Wine prefix in which the Windows tests run")
# Debian keeps the loaders in /usr/lib/wine; other systems put them on the PATH.
find_program(DB_WINE NAMES ${DB_WINE_LOADER} PATHS /usr/lib/wine /usr/lib64/wine)
if(DB_WINE)
  set(DB_WINE_ENVIRONMENT "")
  if(DB_WINE_LOADER STREQUAL "wine64")
    # A 64-bit prefix, and the programs Wine starts for itself (wineboot, services) take the
    # 64-bit loader too: the 32-bit one may not run on this kernel.
    set(DB_WINE_ENVIRONMENT "WINEARCH=win64" "WINELOADER=${DB_WINE}")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env "WINEPREFIX=${DATENBANK_WINEPREFIX}" "WINEDEBUG=-all" "LC_ALL=C.UTF-8"
      ${DB_WINE_ENVIRONMENT} "${DB_WINE}")
endif()
