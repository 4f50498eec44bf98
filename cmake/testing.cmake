# Where the kernel runs no 32-bit program, Wine's 32-bit side runs under
# qemu's user-mode emulation (tools/install-deps.sh registers it), several
# times slower: every Wine time-out, a guard against hangs, grows with it.
set(QUILLANE_WINE_SLOWDOWN 1)
if(EXISTS /proc/sys/fs/binfmt_misc/qemu-i386)
  set(QUILLANE_WINE_SLOWDOWN 5)
endif()
# quillane_wine_timeout(var seconds): seconds as a Wine time-out on this machine.
function(quillane_wine_timeout var seconds)
  math(EXPR scaled "${seconds} * ${QUILLANE_WINE_SLOWDOWN}")
  set(${var} ${scaled} PARENT_SCOPE)
endfunction()

# Every Windows test program runs under the build tree's Wine session, which
# one fixture starts before the first test and another stops after the last.
add_test(NAME wine_session_start
         COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-session.sh start ${CMAKE_BINARY_DIR})
quillane_wine_timeout(session_timeout 600)
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session
                     TIMEOUT ${session_timeout})
add_test(NAME wine_session_stop
         COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-session.sh stop ${CMAKE_BINARY_DIR})
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session)

# quillane_add_test(NAME SOURCES... [LIBS libs...] [TIMEOUT s] [SERIAL])
# Builds a GoogleTest program for Windows and registers it to run under Wine.
function(quillane_add_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE sfx_core imaging support GTest::gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  quillane_wine_timeout(T_TIMEOUT ${T_TIMEOUT})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session TIMEOUT ${T_TIMEOUT})
  if(QUILLANE_WINE_SLOWDOWN GREATER 1)
    # Tests that read processor fault codes learn that the emulator leaves
    # out the trap number Wine derives them from.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT QUILLANE_EMULATED_CPU=1)
  endif()
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

file(GLOB TEST_SCRIPTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*/*.cmake)
foreach(script ${TEST_SCRIPTS})
  include(${script})
endforeach()

# A file tests/<subsystem>/<name>_test.cpp becomes a test program <name>_test
# by itself; a tests/<subsystem>/*.cmake file registers anything that needs
# more (helper programs, extra sources, signed fixtures).
file(GLOB TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*/*_test.cpp)
foreach(src ${TEST_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  if(NOT TARGET ${name})
    quillane_add_test(${name} SOURCES ${src})
  endif()
endforeach()
