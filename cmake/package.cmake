# The stub's resources (icon, splash picture, manifest) and the sample
# installer, signed with a throwaway certificate that lives in the build
# tree only. payload.bin, the sample package as a bare resource, feeds the
# resource extraction test.
set(GEN ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GEN})

# quillane_run_from_swap(target)
# After every link of target, marks its image so that Windows copies it to
# local storage before running it when it is started from a share or a
# removable drive, and writes the header checksum anew. Every launcher goes
# through it, and so must any stub whose headers a packer keeps.
function(quillane_run_from_swap target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pe-run-from-swap.py
            $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

add_executable(sample-setup WIN32 sample/installer/sample_setup.cpp)
target_link_options(sample-setup PRIVATE -municode)
target_link_libraries(sample-setup PRIVATE ${ZLIB_STATIC})
set_target_properties(sample-setup PROPERTIES OUTPUT_NAME "sample-setup-unsigned"
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)

set(SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/tools/sign-file.sh)
set(PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/tools/make-package.py)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/sample/Setup.exe
  COMMAND ${SIGN_SCRIPT} ${CMAKE_BINARY_DIR}/signing $<TARGET_FILE:sample-setup> ${CMAKE_BINARY_DIR}/sample/Setup.exe
  DEPENDS sample-setup ${SIGN_SCRIPT}
  COMMENT "Signing the sample installer")

file(GLOB_RECURSE SAMPLE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/sample/payload/*)
add_custom_command(
  OUTPUT ${GEN}/payload.bin
  COMMAND ${Python3_EXECUTABLE} ${PACKAGE_SCRIPT} --out ${GEN}/payload.bin
          --dir ${PROJECT_SOURCE_DIR}/sample/payload
          --file Setup.exe=${CMAKE_BINARY_DIR}/sample/Setup.exe
  DEPENDS ${CMAKE_BINARY_DIR}/sample/Setup.exe ${SAMPLE_FILES} ${PACKAGE_SCRIPT}
  COMMENT "Packing the sample payload")

add_custom_command(
  OUTPUT ${GEN}/quillane.ico
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-icon.py ${GEN}/quillane.ico
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make-icon.py)

configure_file(${PROJECT_SOURCE_DIR}/launcher/launcher.manifest ${GEN}/launcher.manifest COPYONLY)
configure_file(${PROJECT_SOURCE_DIR}/sample/splash.jpg ${GEN}/splash.jpg COPYONLY)

add_custom_target(sfx_resources DEPENDS ${GEN}/payload.bin ${GEN}/quillane.ico)
set(SFX_STUB_DEPENDS ${GEN}/quillane.ico;${GEN}/launcher.manifest;${GEN}/splash.jpg)

# quillane_add_packed_launcher(target payload outputDir outputName [picture])
# A launcher around the given payload resource file, with the sample's icon
# and manifest and the sample's picture (or the given one), linked like the
# stub: the road for packages and pictures that sfxpack refuses to pack (no
# installer, damaged data, broken pictures). The shared resources come from
# the real launcher's build, so the target depends on it.
function(quillane_add_packed_launcher target payload outputDir outputName)
  set(picture ${GEN}/splash.jpg)
  if(ARGC GREATER 4)
    set(picture ${ARGV4})
  endif()
  set(rc ${CMAKE_BINARY_DIR}/launchers/${target}.rc)
  file(WRITE ${rc}.in
"#include <windows.h>
101 ICON \"${GEN}/quillane.ico\"
103 JPEG \"${picture}\"
ZIPFILE FILE_DATA \"${payload}\"
CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${GEN}/launcher.manifest\"
")
  configure_file(${rc}.in ${rc} COPYONLY)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/launcher/entry.cpp ${rc})
  target_link_libraries(${target} PRIVATE sfx_core)
  target_link_options(${target} PRIVATE -municode)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${payload};${GEN}/quillane.ico;${GEN}/launcher.manifest;${picture}")
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${outputDir} OUTPUT_NAME ${outputName})
  add_dependencies(${target} sfx-launcher)
  quillane_run_from_swap(${target})
endfunction()
