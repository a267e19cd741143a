# The 32-bit Windows library: datenbank.dll with exactly one export, _CreateDatenbankClassInstance,
# a version resource, and no dependency on any DLL but the system's own.
# Included by the root CMakeLists.txt for the "datenbank" target when building for Windows.

enable_language(RC)

set(DB_RESOURCE_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated/module)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/module/version.rc.in ${DB_RESOURCE_DIR}/version.rc
               @ONLY)

# The module-definition file names the export exactly: without it MinGW would derive the name from
# the decorated symbol.
target_sources(datenbank PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/module/datenbank.def
  ${DB_RESOURCE_DIR}/version.rc)
# The resource takes its numbers and texts from the same headers as the code.
target_include_directories(datenbank PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/generated)

# The warning options of the C and C++ compilers mean nothing to windres.
get_target_property(DB_DLL_OPTIONS datenbank COMPILE_OPTIONS)
if(DB_DLL_OPTIONS)
  list(TRANSFORM DB_DLL_OPTIONS REPLACE "^(.+)$" "$<$<COMPILE_LANGUAGE:C,CXX>:\\1>")
  set_property(TARGET datenbank PROPERTY COMPILE_OPTIONS ${DB_DLL_OPTIONS})
endif()

set_target_properties(datenbank PROPERTIES
  PREFIX ""
  OUTPUT_NAME datenbank
  SUFFIX ".dll"
  LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/module/datenbank.def)

# libgcc, libstdc++ and winpthread are linked in, so a host needs only the system's DLLs;
# --no-undefined makes a missing symbol a link error rather than a load failure.
target_link_options(datenbank PRIVATE
  -static -static-libgcc -static-libstdc++ "LINKER:--no-undefined")

# wine.sh in the build directory runs a program of this build under its Wine loader and prefix,
# exactly as ctest runs the tests: the scripts and benchmarks that run Windows programs by hand
# take it rather than knowing each width's loader.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(DB_WINE_COMMAND "")
  foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(APPEND DB_WINE_COMMAND " '${word}'")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/wine.sh
       "#!/bin/sh\n# Runs a Windows program of this build under its Wine loader and prefix.\n"
       "exec${DB_WINE_COMMAND} \"$@\"\n")
  file(CHMOD ${CMAKE_BINARY_DIR}/wine.sh PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
