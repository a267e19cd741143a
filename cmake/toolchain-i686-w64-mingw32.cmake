# Cross build of the 32-bit Windows library and its tests (Debian: g++-mingw-w64-i686). Its tests
# run under the 32-bit Wine loader (Debian: wine32:i386), which needs a kernel that runs i386
# programs.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DB_MINGW_TRIPLET i686-w64-mingw32)
set(DB_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_cross.cmake)
