# Installing and packaging: "cmake --install" puts the library, its header, the datenbank tool (and
# its manual page, installed beside it in tools/datenbank/CMakeLists.txt), a CMake package (find_package(Datenbank) gives Datenbank::datenbank) and a pkg-config file in the
# usual places; CPack makes a Debian package of a Linux build and a zip of the Windows builds.
# Included at the end of the root CMakeLists.txt, when every target exists.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(DB_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Datenbank)

if(NOT WIN32)
  # The interface never changes, so the major version is the soname's: libdatenbank.so.1.
  set_target_properties(datenbank PROPERTIES
    VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS datenbank EXPORT DatenbankTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}  # the DLL
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}  # its import library
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET datenbank_tool)
  install(TARGETS datenbank_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES examples/kunden.csv DESTINATION ${CMAKE_INSTALL_DATADIR}/datenbank/examples)

install(EXPORT DatenbankTargets NAMESPACE Datenbank:: DESTINATION ${DB_CMAKE_PACKAGE_DIR})
configure_package_config_file(cmake/DatenbankConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/DatenbankConfig.cmake
  INSTALL_DESTINATION ${DB_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/DatenbankConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/DatenbankConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/DatenbankConfigVersion.cmake
        DESTINATION ${DB_CMAKE_PACKAGE_DIR})

# The pkg-config file finds the prefix from its own place, so the installed tree (and the Debian
# package) can live anywhere.
file(RELATIVE_PATH DB_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(cmake/datenbank.pc.in ${PROJECT_BINARY_DIR}/packaging/datenbank.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/datenbank.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# ---- CPack ----
set(CPACK_PACKAGE_NAME ovelt-datenbank)
set(CPACK_PACKAGE_VENDOR "Ovelt Software GmbH")
set(CPACK_PACKAGE_CONTACT "Ovelt Software GmbH <datenbank@ovelt.example>")
set(CPACK_PACKAGE_VERSION
    ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Ovelt Datenbank: a table store for delimited text files, and its command-line host")
set(CPACK_PACKAGE_DESCRIPTION
    "A shared library with a fixed binary interface (one factory, the 29 operations of TMainDB) "
    "that loads, edits and saves delimited text files without quoting, with German result "
    "messages; its header, CMake and pkg-config files, and the datenbank tool.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)  # a package carries no debug information
if(WIN32)
  # The zip of Windows builds: its top folder holds one folder per width, x86/ and x64/, each the
  # install tree of that width's build (bin/datenbank.dll, bin/datenbank.exe, include/, lib/,
  # share/). CPack installs each build into its own folder through the fourth value ("Directory")
  # of CPACK_INSTALL_CMAKE_PROJECTS, running that build's own install script with its own strip.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(DB_PACKAGE_WIDTH x64)
    set(CPACK_SYSTEM_NAME win64)
    # The 64-bit build makes the zip of both widths: it takes the 32-bit build's install from
    # this build directory (relative paths are from the source directory; empty: x64 only).
    set(DATENBANK_PACKAGE_X86_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/windows" CACHE PATH
        "Build directory of the 32-bit Windows build whose install goes into x86/ of the zip")
    set(DB_X86_BUILD_DIR "${DATENBANK_PACKAGE_X86_BUILD_DIR}")
    if(DB_X86_BUILD_DIR)
      get_filename_component(DB_X86_BUILD_DIR "${DB_X86_BUILD_DIR}" ABSOLUTE
                             BASE_DIR "${PROJECT_SOURCE_DIR}")
    endif()
  else()
    set(DB_PACKAGE_WIDTH x86)
    set(CPACK_SYSTEM_NAME win32)
    set(DB_X86_BUILD_DIR "")
  endif()
  # The 64-bit build reads this to know that a build directory is a 32-bit build of this version.
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/windows_width "${DB_PACKAGE_WIDTH} ${PROJECT_VERSION}\n")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/${DB_PACKAGE_WIDTH}")
  set(CPACK_DATENBANK_X86_BUILD_DIR "${DB_X86_BUILD_DIR}")
  set(CPACK_DATENBANK_VERSION "${PROJECT_VERSION}")
  # Whether the 32-bit build is there is asked when cpack runs, not when this build is configured,
  # so the builds may be configured in either order. A build of one width alone (the 32-bit one,
  # the 64-bit one with no 32-bit build beside it, or DATENBANK_PACKAGE_X86_BUILD_DIR empty) makes
  # a zip of its own width, ovelt-datenbank-<version>-win32.zip or -win64.zip, with the same
  # x86/ or x64/ folder inside; with both it is ovelt-datenbank-<version>-windows.zip.
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/packaging/CPackWindowsWidths.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE} [=[
# Written by cmake/packaging.cmake; cpack includes it before it makes the zip.
set(x86_build "${CPACK_DATENBANK_X86_BUILD_DIR}")
if(x86_build AND EXISTS "${x86_build}/cmake_install.cmake")
  set(width_file "${x86_build}/packaging/windows_width")
  set(width "")
  if(EXISTS "${width_file}")
    file(STRINGS "${width_file}" width LIMIT_COUNT 1)
  endif()
  if(NOT width STREQUAL "x86 ${CPACK_DATENBANK_VERSION}")
    message(FATAL_ERROR "${x86_build} is not a 32-bit Windows build of version "
      "${CPACK_DATENBANK_VERSION} (it says '${width}'): configure it with the windows preset, or "
      "set DATENBANK_PACKAGE_X86_BUILD_DIR of this build to one that is.")
  endif()
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 1 project)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${x86_build}" "${project}" ALL /x86)
  set(CPACK_SYSTEM_NAME windows)
  set(CPACK_PACKAGE_FILE_NAME
      "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME}")
elseif(x86_build)
  message(STATUS "No 32-bit Windows build in ${x86_build}: the zip holds x64/ only.")
endif()
]=])
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.ovelt.example")
  # The package's dependencies from the libraries its files link, when dpkg-dev can tell them.
  find_program(DB_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DB_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
