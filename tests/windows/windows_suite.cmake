# The Windows suite: the program cross-built with mingw-w64 and run under
# wine, by the end-to-end tests and by the Windows-only tests.
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

# `make test` prints this note after the run: which build of the program the
# suite ran under which wine, and why, or why it did not run.
set(velkor_windows_note_file ${CMAKE_BINARY_DIR}/windows-suite.txt)
file(REMOVE ${velkor_windows_note_file})
# Registers a test that only says why the suite did not run; CTest lists it
# as skipped.
function(velkor_windows_suite_skipped why)
  message(STATUS "Windows suite skipped: ${why}")
  file(WRITE ${velkor_windows_note_file} "Windows suite skipped: ${why}\n")
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
find_program(VELKOR_MINGW64_CXX NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++)
find_program(VELKOR_MINGW64_WINDRES NAMES x86_64-w64-mingw32-windres)
find_program(VELKOR_WINESERVER NAMES wineserver)

# Which wine runs the suite. The wine loaders are called directly: the
# `wine` script always picks the 32-bit one when it is installed, even where
# the kernel cannot run it. Whether 32-bit programs run is found out by
# starting the 32-bit loader, not guessed from the machine's name.
set(velkor_wine32 /usr/lib/wine/wine)
set(velkor_wine64 /usr/lib/wine/wine64)
set(velkor_wine32_runs 1)  # its status: 0 when it runs
if(EXISTS ${velkor_wine32})
  execute_process(COMMAND ${velkor_wine32} --version RESULT_VARIABLE velkor_wine32_runs
                  OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
endif()

# The shipped program is the 32-bit build: it is always made, and the checks
# of the executable itself look at it. Its behaviour is tested under 32-bit
# wine where that runs; elsewhere the same sources built for x86_64 run
# under 64-bit wine.
set(velkor_windows_missing "")
if(NOT VELKOR_MINGW_CXX OR NOT VELKOR_MINGW_WINDRES)
  list(APPEND velkor_windows_missing "i686-w64-mingw32-g++ and -windres (Debian: g++-mingw-w64-i686)")
endif()
if(NOT VELKOR_WINESERVER)
  list(APPEND velkor_windows_missing "wine")
endif()
set(velkor_windows_arch "")
if(velkor_wine32_runs EQUAL 0)
  set(velkor_windows_arch win32)
  set(velkor_windows_why "32-bit wine runs on this machine")
elseif(EXISTS ${velkor_wine64} AND VELKOR_MINGW64_CXX AND VELKOR_MINGW64_WINDRES)
  set(velkor_windows_arch win64)
  if(EXISTS ${velkor_wine32})
    set(velkor_windows_why "this machine cannot run 32-bit programs (${velkor_wine32} --version failed)")
  else()
    set(velkor_windows_why "32-bit wine is not installed (Debian: wine32:i386)")
  endif()
else()
  list(APPEND velkor_windows_missing
       "a wine that runs here: 32-bit wine (Debian: wine32:i386, on a kernel that runs 32-bit programs), or 64-bit wine with its cross compiler (Debian: wine64, g++-mingw-w64-x86-64)")
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

# The cross builds of the same sources, made as part of this build.
include(ExternalProject)
# One cross build: target velkor_NAME in BUILD/NAME, with the tool chain
# cmake/mingw-w64-TOOLCHAIN.cmake.
function(velkor_cross_build name toolchain)
  ExternalProject_Add(velkor_${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${name}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-${toolchain}.cmake
               -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=ON
               -DVELKOR_WERROR=${VELKOR_WERROR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE)
endfunction()
set(velkor_win32_dir ${CMAKE_BINARY_DIR}/win32)
velkor_cross_build(win32 i686)
set(velkor_windows_targets velkor_win32)
if(velkor_windows_arch STREQUAL "win32")
  set(velkor_wine ${velkor_wine32})
  set(velkor_run_dir ${velkor_win32_dir})
  set(velkor_windows_note "Windows suite: the 32-bit velkor.exe under 32-bit wine (${velkor_wine}): ${velkor_windows_why}")
else()
  set(velkor_wine ${velkor_wine64})
  set(velkor_run_dir ${CMAKE_BINARY_DIR}/win64)
  velkor_cross_build(win64 x86_64)
  list(APPEND velkor_windows_targets velkor_win64)
  set(velkor_windows_note "Windows suite: the same sources built for x86_64 (BUILD/win64) under 64-bit wine (${velkor_wine}), because ${velkor_windows_why}; the checks of the executable itself read the 32-bit BUILD/win32/velkor.exe")
endif()
message(STATUS "${velkor_windows_note}")
file(WRITE ${velkor_windows_note_file} "${velkor_windows_note}\n")

add_executable(velkor_windows_tests windows/windows_test.cpp)
target_link_libraries(velkor_windows_tests PRIVATE velkor_test_files GTest::gtest
  GTest::gtest_main)
add_dependencies(velkor_windows_tests ${velkor_windows_targets})
add_dependencies(velkor_e2e_tests ${velkor_windows_targets})

# A wine prefix of this build's own, one per architecture. Its first start
# sets it up, which takes a while; every test under wine waits for that.
set(velkor_wine_env
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-${velkor_windows_arch}
  WINEARCH=${velkor_windows_arch}
  WINELOADER=${velkor_wine}
  WINEDEBUG=-all
  # wine's server keeps its socket in a folder under TMPDIR: this build's own
  TMPDIR=${CMAKE_BINARY_DIR}/wine-tmp
  # UTF-8 parameters reach the programs as UTF-16, and the ANSI code page
  # is Windows-1252, whatever the locale of the machine
  LC_ALL=C.UTF-8
  # no downloads of Mono or Gecko while the prefix is made
  WINEDLLOVERRIDES=mscoree,mshtml=)
# Its server, started first (after whatever an earlier run left), stays up
# until wine.shutdown: a server that ends between two tests' programs can
# drop the next one's connection.
add_test(NAME wine.prefix COMMAND sh -c
  "mkdir -p \"$WINEPREFIX\" \"$TMPDIR\" && { \"$2\" -k >/dev/null 2>&1; \"$2\" -p </dev/null >/dev/null 2>&1 && \"$1\" wineboot -i </dev/null >/dev/null 2>&1; }"
  sh ${velkor_wine} ${VELKOR_WINESERVER})
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
  ENVIRONMENT "${velkor_wine_env};VELKOR_COMMAND='${velkor_wine}' '${velkor_run_dir}/velkor.exe';VELKOR_CRLF=1;VELKOR_NATIVE=0"
  FIXTURES_REQUIRED velkor_wine TIMEOUT 300)

add_test(NAME wine.windows_only COMMAND velkor_windows_tests)
set_tests_properties(wine.windows_only PROPERTIES
  ENVIRONMENT "${velkor_wine_env};VELKOR_WINE=${velkor_wine};VELKOR_EXE=${velkor_run_dir}/velkor.exe;VELKOR_SHIPPED_EXE=${velkor_win32_dir}/velkor.exe;VELKOR_HELPER_EXE=${velkor_run_dir}/tests/windows/helpers/windows_helper.exe"
  FIXTURES_REQUIRED velkor_wine TIMEOUT 300)
