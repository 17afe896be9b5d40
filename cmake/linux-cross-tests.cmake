# The native tests of a Linux cross build, run under the emulator of its
# tool chain file: included from tests/CMakeLists.txt.

# GoogleTest compiled from the sources libgtest-dev ships, as a system
# library: its headers' warnings are not the tests'.
set(velkor_gtest_sources /usr/src/googletest/googletest)
if(EXISTS ${velkor_gtest_sources}/CMakeLists.txt)
  add_subdirectory(${velkor_gtest_sources} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(library gtest gtest_main)
    target_compile_options(${library} PRIVATE -w)
    set_property(TARGET ${library} APPEND PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
                 ${velkor_gtest_sources}/include)
  endforeach()
  set(GTest_FOUND TRUE)
endif()

# The tests start the program by one path: here a script that runs it under
# the emulator, which takes the script's process, so that the process a
# test signals or looks for is the tool's.
set(velkor_program ${CMAKE_CURRENT_BINARY_DIR}/velkor-emulated)
set(velkor_emulator "")
foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
  string(APPEND velkor_emulator "'${word}' ")
endforeach()
file(GENERATE OUTPUT ${velkor_program}
     CONTENT "#!/bin/sh\nexec ${velkor_emulator}'$<TARGET_FILE:velkor>' \"$@\"\n"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)

# The test programs are linked statically: qemu 7.2's i386 emulation never
# runs the child of a dynamically linked program's fork, which the
# end-to-end tests make for every run of the tool.
function(velkor_link_for_emulator)
  foreach(test IN LISTS ARGN)
    target_link_options(${test} PRIVATE -static)
  endforeach()
endfunction()
