# Cross build of the 64-bit Windows library and its tests (Debian: g++-mingw-w64-x86-64). Its
# tests run under the 64-bit Wine loader (Debian: wine64) in a 64-bit prefix, on every x86-64
# kernel.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(DB_MINGW_TRIPLET x86_64-w64-mingw32)
set(DB_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_cross.cmake)
