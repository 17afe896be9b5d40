# The packages that `make package` makes with CPack, one per build:
#   Linux:   velkor-VERSION-Linux.tar.gz  bin/velkor, the man page, README.md
#            (-Linux-ARCH.tar.gz from a cross build, beside the native one)
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
  # Debian's layout of a package's documents: the README, the copyright
  # file and a compressed changelog.
  install(FILES README.md doc/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor)
  set(VELKOR_MAINTAINER "Velkor maintainers <maintainers@velkor.example>" CACHE STRING
      "The .deb's Maintainer: a name and an e-mail address")
  set(VELKOR_DEB_RELEASE 1 CACHE STRING "The .deb's own revision, after the version")
  # The date of SOURCE_DATE_EPOCH, as the man page's.
  string(TIMESTAMP velkor_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE "${CMAKE_BINARY_DIR}/package/changelog.Debian"
       "velkor (${PROJECT_VERSION}-${VELKOR_DEB_RELEASE}) unstable; urgency=medium\n\n"
       "  * Velkor ${PROJECT_VERSION} packaged with CPack.\n\n"
       " -- ${VELKOR_MAINTAINER}  ${velkor_changelog_date}\n")
  velkor_gzip("${CMAKE_BINARY_DIR}/package/changelog.Debian")
  install(FILES "${CMAKE_BINARY_DIR}/package/changelog.Debian.gz"
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velkor)
  # The package is not uploaded to Debian, so no bug of Debian's asks for it,
  # as lintian expects of a first upload.
  install(FILES doc/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME velkor)
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME})
  # The .deb for `apt install ./velkor_..._amd64.deb`, with the program
  # stripped. Its architecture is the machine the program is built for: the
  # build machine's (dpkg --print-architecture), or that of the cross tool
  # chain file. dpkg-shlibdeps (Debian: dpkg-dev) reads the libraries the
  # program links to from the program itself, for another machine among
  # the cross packages.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${VELKOR_DEB_RELEASE})
  if(VELKOR_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELKOR_DEB_ARCH})
    set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${VELKOR_DEB_ARCH})
    # Debian's cross packages hold the target's C library under
    # /usr/TRIPLE/lib, with shlibs that name the target's own package
    # (libc6:arm64).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS /usr/${VELKOR_CROSS_TRIPLE}/lib)
  endif()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The long description, after the summary, in lines of at most 80 columns.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velkor lists the RAW name of every texture block in a BIN file, or renames
matching textures in place and reports how many it changed.")
  set(CPACK_PACKAGE_CONTACT "${VELKOR_MAINTAINER}")
endif()

set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VENDOR Velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lists or renames the textures of a BIN file")
set(CPACK_PACKAGE_FILE_NAME velkor-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
