# sfxpack, built twice from the same sources: natively (an external project
# with the host compiler, build/bin/sfxpack) and for Windows
# (build/bin/sfxpack.exe). The native one packs the sample launcher here and
# the test launchers in tests/e2e.
include(ExternalProject)
set(SFXPACK ${CMAKE_BINARY_DIR}/bin/sfxpack)
ExternalProject_Add(sfxpack_native
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/sfxpack
  BINARY_DIR ${CMAKE_BINARY_DIR}/sfxpack-native
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DSFXPACK_OUTPUT_DIR=${CMAKE_BINARY_DIR}/bin
  BUILD_ALWAYS TRUE
  BUILD_BYPRODUCTS ${SFXPACK}
  INSTALL_COMMAND "")

include(${PROJECT_SOURCE_DIR}/sfxpack/sources.cmake)
add_library(sfxpack_core STATIC ${SFXPACK_SOURCES})
target_include_directories(sfxpack_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(sfxpack_core PUBLIC ${ZLIB_STATIC})
add_executable(sfxpack-windows ${SFXPACK_MAIN})
set_target_properties(sfxpack-windows PROPERTIES OUTPUT_NAME sfxpack)
target_link_libraries(sfxpack-windows PRIVATE sfxpack_core)
target_link_options(sfxpack-windows PRIVATE -municode)

# The sample launcher: sample/payload and the signed sample installer,
# gathered in one folder and packed onto the stub.
set(SAMPLE_PACKAGE ${CMAKE_BINARY_DIR}/sample/package)
set(SAMPLE_LAUNCHER ${CMAKE_BINARY_DIR}/bin/sfx-launcher.exe)
add_custom_command(
  OUTPUT ${SAMPLE_LAUNCHER}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SAMPLE_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/sample/payload ${SAMPLE_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/sample/Setup.exe ${SAMPLE_PACKAGE}/Setup.exe
  COMMAND ${SFXPACK} --payload ${SAMPLE_PACKAGE} --stub $<TARGET_FILE:sfx-stub>
          --splash ${PROJECT_SOURCE_DIR}/sample/splash.jpg --icon ${GEN}/quillane.ico
          --file-version 5.9.1.0 --product Quillane --company Quillane --description "Quillane Setup"
          -o ${SAMPLE_LAUNCHER}
  DEPENDS sfx-stub sfxpack_native ${SFXPACK} ${CMAKE_BINARY_DIR}/sample/Setup.exe ${SAMPLE_FILES}
          ${PROJECT_SOURCE_DIR}/sample/splash.jpg ${GEN}/quillane.ico
  COMMENT "Packing the sample launcher")
add_custom_target(sfx-launcher ALL DEPENDS ${SAMPLE_LAUNCHER})
