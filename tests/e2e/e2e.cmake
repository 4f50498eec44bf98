# End-to-end runs of the real launcher under Wine. Each test package gets a
# launcher of its own, packed by sfxpack onto the stub like a product's:
# a folder is gathered from the installer fixtures and packed; the failure
# roads that sfxpack refuses to build (no installer, damaged data) are made
# by changing one entry of a packed launcher afterwards.
add_executable(run-exact ${CMAKE_CURRENT_LIST_DIR}/run_exact.cpp)
target_link_options(run-exact PRIVATE -municode)

set(E2E ${CMAKE_BINARY_DIR}/tests/e2e)
file(MAKE_DIRECTORY ${E2E})
set(E2E_FIX ${CMAKE_BINARY_DIR}/tests/fixtures)
set(E2E_ALTER ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/alter-entry.py)

# name -> the installer fixture, whether the sample files go beside it, the
# packer's extra arguments and the change made after packing.
set(E2E_SETUP_happy signed.exe)
set(E2E_SETUP_unsigned unsigned.exe)
set(E2E_SETUP_altered altered.exe)
set(E2E_SETUP_noinstaller signed.exe)
set(E2E_SETUP_damaged signed.exe)
set(E2E_SAMPLE_happy ON)
set(E2E_SAMPLE_noinstaller ON)
set(E2E_SAMPLE_damaged ON)
set(E2E_ARGS_unsigned --allow-unsigned)
set(E2E_ALTER_noinstaller --rename Setup.exe Setup.ex_)
set(E2E_ALTER_damaged --damage Setup.exe)

set(E2E_LAUNCHERS)
foreach(name happy unsigned altered noinstaller damaged)
  set(dir ${E2E}/${name}-package)
  set(launcher ${E2E}/${name}.exe)
  set(commands COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir} COMMAND ${CMAKE_COMMAND} -E make_directory ${dir})
  if(E2E_SAMPLE_${name})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/sample/payload ${dir})
  endif()
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${E2E_FIX}/${E2E_SETUP_${name}} ${dir}/Setup.exe)
  set(packed ${launcher})
  if(E2E_ALTER_${name})
    set(packed ${E2E}/${name}-whole.exe)
  endif()
  list(APPEND commands COMMAND ${SFXPACK} --payload ${dir} --stub $<TARGET_FILE:sfx-stub>
       ${E2E_ARGS_${name}} -o ${packed})
  if(E2E_ALTER_${name})
    list(APPEND commands COMMAND ${E2E_ALTER} ${packed} ${launcher} ${E2E_ALTER_${name}})
  endif()
  # The fixture files themselves, not only their target: a target alone
  # orders the build but never repacks a launcher when a fixture changes.
  add_custom_command(
    OUTPUT ${launcher}
    ${commands}
    DEPENDS sfx-stub sfxpack_native ${SFXPACK} launcher_fixtures ${E2E_FIX}/${E2E_SETUP_${name}}
            ${SAMPLE_FILES} ${PROJECT_SOURCE_DIR}/tools/alter-entry.py
    COMMENT "Packing the ${name} test launcher")
  add_custom_target(e2e-launcher-${name} DEPENDS ${launcher})
  list(APPEND E2E_LAUNCHERS e2e-launcher-${name})
endforeach()

quillane_add_test(launcher_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_e2e_test.cpp
                  LIBS ${ZLIB_STATIC} TIMEOUT 240)
add_dependencies(launcher_e2e_test ${E2E_LAUNCHERS})
# The unsigned and the altered installer each hold their launcher for the
# whole minute of the signature stage: separate entries, so they run beside
# the others.
set_tests_properties(launcher_e2e_test PROPERTIES
  ENVIRONMENT "GTEST_FILTER=-*NeverVerifies*")
foreach(kind Unsigned Altered)
  add_test(NAME launcher_e2e_${kind} COMMAND launcher_e2e_test --gtest_color=no
           --gtest_filter=*NeverVerifies*${kind}*)
  quillane_wine_timeout(e2e_timeout 240)
  set_tests_properties(launcher_e2e_${kind} PROPERTIES FIXTURES_REQUIRED wine_session
                       TIMEOUT ${e2e_timeout})
endforeach()
