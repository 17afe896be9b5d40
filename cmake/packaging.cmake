# The packages that `make package` makes with CPack, one per build:
#   Linux:   velkor-VERSION-Linux.tar.gz  bin/velkor, the man page, README.md
#            velkor_VERSION_ARCH.deb      the same under /usr
#   Windows: velkor-VERSION-win32.zip     velkor.exe, README.md with CR LF
# Included from the top-level CMakeLists.txt, after the install rules.
include(GNUInstallDirs)

if(WIN32)
  # Windows editors want CR LF line ends; the file is made anew whenever
  # README.md changes.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/README.md")
  file(READ "${PROJECT_SOURCE_DIR}/README.md" velkor_readme)
  string(REPLACE "\r\n" "\n" velkor_readme "${velkor_readme}")
  string(REPLACE "\n" "\r\n" velkor_readme "${velkor_readme}")
  file(WRITE "${CMAKE_BINARY_DIR}/package/README.md" "${velkor_readme}")
  install(FILES "${CMAKE_BINARY_DIR}/package/README.md" DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor)
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME})
  # The .deb for `apt install ./velkor_..._amd64.deb`: its architecture is
  # the build machine's (dpkg --print-architecture), and dpkg-shlibdeps
  # (Debian: dpkg-dev) reads the libraries the program links to from the
  # program itself.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velkor lists the RAW name of every texture block in a \
BIN file, or renames matching textures in place and reports how many it changed.")
  set(CPACK_PACKAGE_CONTACT "Velkor maintainers")
endif()

set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VENDOR Velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lists or renames the textures of a BIN file")
set(CPACK_PACKAGE_FILE_NAME velkor-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
