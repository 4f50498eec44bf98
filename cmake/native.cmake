# Native Linux programs (sanitized tests and fuzzers, built by clang) beside
# the cross build: native/ is configured as an external project in
# <build>/native without the MinGW toolchain file, rebuilt on every build,
# and its programs are registered here. A test command that is a path, not a
# cross target, runs natively instead of under Wine.
find_program(QUILLANE_CLANG clang)
find_program(QUILLANE_CLANGXX clang++)
if(NOT QUILLANE_CLANG OR NOT QUILLANE_CLANGXX)
  message(WARNING "clang not found: native sanitizer tests and fuzzers are left out")
  return()
endif()

include(ExternalProject)
ExternalProject_Add(native_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/native
  BINARY_DIR ${CMAKE_BINARY_DIR}/native
  CMAKE_ARGS -DCMAKE_C_COMPILER=${QUILLANE_CLANG}
             -DCMAKE_CXX_COMPILER=${QUILLANE_CLANGXX}
             -DCMAKE_BUILD_TYPE=RelWithDebInfo
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND "")

set(NATIVE_DIR ${CMAKE_BINARY_DIR}/native)
add_test(NAME zip_reader_native_test COMMAND ${NATIVE_DIR}/zip_reader_test --gtest_color=no)
set_tests_properties(zip_reader_native_test PROPERTIES TIMEOUT 900)
# The seed archives (from Python's zipfile and Info-ZIP's zip) all read.
add_test(NAME zip_reader_seeds
  COMMAND sh -c "\"$0\" \"$1\"/*.zip" ${NATIVE_DIR}/zip_check ${NATIVE_DIR}/zip-seeds)
# About a minute of fuzzing from a fresh seed corpus; a crash fails the test.
add_test(NAME zip_reader_fuzz
  COMMAND sh ${PROJECT_SOURCE_DIR}/native/run-fuzz.sh ${NATIVE_DIR}/fuzz_zip_reader
          ${NATIVE_DIR}/zip-seeds ${CMAKE_BINARY_DIR}/fuzz/zip_reader 60)
set_tests_properties(zip_reader_fuzz PROPERTIES TIMEOUT 300)

# sfxpack's native tests, with the build's stub and installer fixtures.
add_test(NAME sfxpack_native_test COMMAND ${NATIVE_DIR}/sfxpack_test --gtest_color=no)
set_tests_properties(sfxpack_native_test PROPERTIES TIMEOUT 900 ENVIRONMENT
  "${SFXPACK_TEST_ENVIRONMENT}")
include(${PROJECT_SOURCE_DIR}/native/imaging_tests.cmake)
foreach(name ${IMAGING_NATIVE_TESTS})
  add_test(NAME ${name}_native COMMAND ${NATIVE_DIR}/${name} --gtest_color=no)
  set_tests_properties(${name}_native PROPERTIES TIMEOUT 300)
endforeach()
