# sfxpack's tests run twice: natively under the sanitizers
# (cmake/native.cmake) and here, built for Windows and run under Wine, with
# the build's stub and installer fixtures named by the environment.
set(SFXPACK_TEST_ENVIRONMENT
  "SFXPACK_STUB=$<TARGET_FILE:sfx-stub>;SFXPACK_SIGNED=${CMAKE_BINARY_DIR}/tests/fixtures/signed.exe;SFXPACK_UNSIGNED=${CMAKE_BINARY_DIR}/tests/fixtures/unsigned.exe;SFXPACK_SPLASH=${PROJECT_SOURCE_DIR}/sample/splash.jpg;SFXPACK_ICON=${CMAKE_BINARY_DIR}/generated/quillane.ico")
file(GLOB SFXPACK_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
foreach(src ${SFXPACK_TEST_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  quillane_add_test(${name} SOURCES ${src} LIBS sfxpack_core)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "${SFXPACK_TEST_ENVIRONMENT}")
  add_dependencies(${name} sfx-stub launcher_fixtures)
endforeach()

