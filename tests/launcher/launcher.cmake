# A stand-in installer that starts a second stage and exits at once.
add_executable(bootstrap-setup WIN32 ${CMAKE_CURRENT_LIST_DIR}/bootstrap_setup.cpp)
target_link_options(bootstrap-setup PRIVATE -municode)
target_link_libraries(bootstrap-setup PRIVATE shell32)
set_target_properties(bootstrap-setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)

# Signed, unsigned and altered copies of the sample installer for the
# signature tests, and the signed bootstrapper, made at build time beside the
# test programs. One command makes them all, so the throwaway certificate is
# never made twice at once.
set(LAUNCHER_FIXTURES ${CMAKE_BINARY_DIR}/tests/fixtures)
add_custom_command(
  OUTPUT ${LAUNCHER_FIXTURES}/signed.exe ${LAUNCHER_FIXTURES}/unsigned.exe
         ${LAUNCHER_FIXTURES}/altered.exe ${LAUNCHER_FIXTURES}/bootstrap.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LAUNCHER_FIXTURES}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:sample-setup> ${LAUNCHER_FIXTURES}/unsigned.exe
  COMMAND ${SIGN_SCRIPT} ${CMAKE_BINARY_DIR}/tests/signing ${LAUNCHER_FIXTURES}/unsigned.exe
          ${LAUNCHER_FIXTURES}/signed.exe
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/alter-file.py
          ${LAUNCHER_FIXTURES}/signed.exe ${LAUNCHER_FIXTURES}/altered.exe
  COMMAND ${SIGN_SCRIPT} ${CMAKE_BINARY_DIR}/tests/signing $<TARGET_FILE:bootstrap-setup>
          ${LAUNCHER_FIXTURES}/bootstrap.exe
  DEPENDS sample-setup bootstrap-setup ${SIGN_SCRIPT} ${PROJECT_SOURCE_DIR}/tools/alter-file.py
  COMMENT "Signing the installer fixtures")
add_custom_target(launcher_fixtures DEPENDS ${LAUNCHER_FIXTURES}/signed.exe
                  ${LAUNCHER_FIXTURES}/unsigned.exe ${LAUNCHER_FIXTURES}/altered.exe
                  ${LAUNCHER_FIXTURES}/bootstrap.exe)

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

quillane_add_test(installer_job_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/installer_job_test.cpp)
add_dependencies(installer_job_test launcher_fixtures)

# The built launchers' file headers, read after their post-link step.
quillane_add_test(run_from_swap_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/run_from_swap_test.cpp
                  LIBS imagehlp)
add_dependencies(run_from_swap_test sfx-stub sfx-launcher e2e-launcher-happy e2e-launcher-damaged)

# The stub is dated by its commit: PE time stamp and title date.
add_test(NAME stub_date_test
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/stub_date_test.sh ${PROJECT_SOURCE_DIR} $<TARGET_FILE:sfx-stub>)
