# Installing and packaging: "cmake --install" puts the library, its header, the datenbank tool (and
# its manual page, installed beside it in tools/datenbank/CMakeLists.txt), a CMake package (find_package(Datenbank) gives Datenbank::datenbank) and a pkg-config file in the
# usual places; CPack makes a Debian package of a Linux build and a zip of a Windows build.
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
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
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
