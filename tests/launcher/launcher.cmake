# Signed, unsigned and altered copies of the sample installer for the
# signature tests, made at build time beside the test programs. One command
# makes all three, so the throwaway certificate is never made twice at once.
set(LAUNCHER_FIXTURES ${CMAKE_BINARY_DIR}/tests/fixtures)
add_custom_command(
  OUTPUT ${LAUNCHER_FIXTURES}/signed.exe ${LAUNCHER_FIXTURES}/unsigned.exe
         ${LAUNCHER_FIXTURES}/altered.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LAUNCHER_FIXTURES}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:sample-setup> ${LAUNCHER_FIXTURES}/unsigned.exe
  COMMAND ${SIGN_SCRIPT} ${CMAKE_BINARY_DIR}/tests/signing ${LAUNCHER_FIXTURES}/unsigned.exe
          ${LAUNCHER_FIXTURES}/signed.exe
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/alter-file.py
          ${LAUNCHER_FIXTURES}/signed.exe ${LAUNCHER_FIXTURES}/altered.exe
  DEPENDS sample-setup ${SIGN_SCRIPT} ${PROJECT_SOURCE_DIR}/tools/alter-file.py
  COMMENT "Signing the installer fixtures")
add_custom_target(launcher_fixtures DEPENDS ${LAUNCHER_FIXTURES}/signed.exe
                  ${LAUNCHER_FIXTURES}/unsigned.exe ${LAUNCHER_FIXTURES}/altered.exe)

quillane_add_test(signature_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/signature_test.cpp)
add_dependencies(signature_test launcher_fixtures)

# The program may import only the system's own DLLs: a DLL that is not one
# of the system's known DLLs could be planted beside the launcher.
add_test(NAME launcher_imports
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_imports.sh ${CMAKE_OBJDUMP}
                 ${CMAKE_BINARY_DIR}/bin/sfx-launcher.exe)

quillane_add_test(handover_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/handover_test.cpp)
add_dependencies(handover_test launcher_fixtures)

# The main sequence's test carries the sample package as the launcher does,
# so that one of its runs unpacks the real thing through the real stages.
quillane_add_test(launch_sequence_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/launch_sequence_test.cpp
                  ${PROJECT_SOURCE_DIR}/tests/payload/extract_resource.rc)
add_dependencies(launch_sequence_test sfx_resources)
