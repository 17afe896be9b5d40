# The Windows suite: the program cross-built with mingw-w64 for i686 and run
# under wine, by the end-to-end tests and by the Windows-only tests.
# Included from tests/CMakeLists.txt.
#
# VELKOR_WINDOWS_SUITE: AUTO runs it when the cross compiler and wine are
# there and says that it skipped it when not; ON (and AUTO when the
# environment variable CI is set to anything but "", "false" or "0") makes
# their absence an error; OFF never runs it.
set(VELKOR_WINDOWS_SUITE AUTO CACHE STRING "Run the Windows suite under wine: AUTO, ON or OFF")
set_property(CACHE VELKOR_WINDOWS_SUITE PROPERTY STRINGS AUTO ON OFF)

set(velkor_windows_mode ${VELKOR_WINDOWS_SUITE})
if(velkor_windows_mode STREQUAL "AUTO" AND NOT "$ENV{CI}" MATCHES "^(|false|0)$")
  set(velkor_windows_mode ON)
endif()

# Registers a test that only says why the suite did not run; CTest lists it
# as skipped. `make test` prints the reason again after the run.
set(velkor_windows_skip_note ${CMAKE_BINARY_DIR}/windows-suite-skipped.txt)
file(REMOVE ${velkor_windows_skip_note})
function(velkor_windows_suite_skipped why)
  message(STATUS "Windows suite skipped: ${why}")
  file(WRITE ${velkor_windows_skip_note} "Windows suite skipped: ${why}\n")
  add_test(NAME windows_suite_skipped
           COMMAND ${CMAKE_COMMAND} -E echo "Windows suite skipped: ${why}")
  set_tests_properties(windows_suite_skipped PROPERTIES SKIP_REGULAR_EXPRESSION "skipped")
endfunction()

if(velkor_windows_mode STREQUAL "OFF")
  velkor_windows_suite_skipped("VELKOR_WINDOWS_SUITE is OFF")
  return()
endif()

find_program(VELKOR_MINGW_CXX NAMES i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++)
find_program(VELKOR_MINGW_WINDRES NAMES i686-w64-mingw32-windres)
find_program(VELKOR_WINE NAMES wine)
find_program(VELKOR_WINEBOOT NAMES wineboot)
find_program(VELKOR_WINESERVER NAMES wineserver)
set(velkor_windows_missing "")
if(NOT VELKOR_MINGW_CXX OR NOT VELKOR_MINGW_WINDRES)
  list(APPEND velkor_windows_missing "i686-w64-mingw32-g++ and -windres (Debian: g++-mingw-w64-i686)")
endif()
if(NOT VELKOR_WINE OR NOT VELKOR_WINEBOOT OR NOT VELKOR_WINESERVER)
  list(APPEND velkor_windows_missing "wine")
endif()
# Debian's wine runs 32-bit programs only with wine32:i386 installed.
if(EXISTS /usr/lib/wine/wine64 AND NOT EXISTS /usr/lib/wine/wine)
  list(APPEND velkor_windows_missing "32-bit wine (Debian: wine32:i386)")
endif()
if(velkor_windows_missing)
  string(REPLACE ";" ", " velkor_windows_missing "${velkor_windows_missing}")
  if(velkor_windows_mode STREQUAL "ON")
    message(FATAL_ERROR "The Windows suite must run (CI is set or VELKOR_WINDOWS_SUITE=ON), "
                        "but this is missing: ${velkor_windows_missing}")
  endif()
  velkor_windows_suite_skipped("not found: ${velkor_windows_missing}")
  return()
endif()
message(STATUS "Windows suite: cross build in ${CMAKE_BINARY_DIR}/win32, run under ${VELKOR_WINE}")

# The cross build of the same sources, made as part of this build.
include(ExternalProject)
set(velkor_win32_dir ${CMAKE_BINARY_DIR}/win32)
ExternalProject_Add(velkor_win32
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${velkor_win32_dir}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
             -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=ON
             -DVELKOR_WERROR=${VELKOR_WERROR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS TRUE)

add_executable(velkor_windows_tests windows/windows_test.cpp)
target_link_libraries(velkor_windows_tests PRIVATE velkor_test_files GTest::gtest GTest::gtest_main)
add_dependencies(velkor_windows_tests velkor_win32)
add_dependencies(velkor_e2e_tests velkor_win32)

# A wine prefix of this build's own. Its first start sets it up, which takes
# a while; every test under wine waits for that.
set(velkor_wine_env
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINEARCH=win32
  WINEDEBUG=-all
  # no downloads of Mono or Gecko while the prefix is made
  WINEDLLOVERRIDES=mscoree,mshtml=)
add_test(NAME wine.prefix COMMAND ${VELKOR_WINEBOOT} -i)
set_tests_properties(wine.prefix PROPERTIES ENVIRONMENT "${velkor_wine_env}"
  FIXTURES_SETUP velkor_wine TIMEOUT 600)
# Ends what wine left running for the prefix, once the tests are done. The
# server may have stopped on its own already, and then -k reports failure:
# that is not a fault of the suite.
add_test(NAME wine.shutdown COMMAND sh -c "\"$1\" -k || true" sh ${VELKOR_WINESERVER})
set_tests_properties(wine.shutdown PROPERTIES ENVIRONMENT "${velkor_wine_env}"
  FIXTURES_CLEANUP velkor_wine)

# The end-to-end suite, unchanged, against velkor.exe.
add_test(NAME wine.e2e COMMAND velkor_e2e_tests)
set_tests_properties(wine.e2e PROPERTIES
  ENVIRONMENT "${velkor_wine_env};VELKOR_COMMAND='${VELKOR_WINE}' '${velkor_win32_dir}/velkor.exe';VELKOR_CRLF=1;VELKOR_NATIVE=0"
  FIXTURES_REQUIRED velkor_wine TIMEOUT 300)

add_test(NAME wine.windows_only COMMAND velkor_windows_tests)
set_tests_properties(wine.windows_only PROPERTIES
  ENVIRONMENT "${velkor_wine_env};VELKOR_WINE=${VELKOR_WINE};VELKOR_EXE=${velkor_win32_dir}/velkor.exe;VELKOR_HOLD_FILE_EXE=${velkor_win32_dir}/tests/windows/helpers/hold_file.exe;VELKOR_VERSION_INFO_EXE=${velkor_win32_dir}/tests/windows/helpers/version_info.exe"
  FIXTURES_REQUIRED velkor_wine TIMEOUT 300)
