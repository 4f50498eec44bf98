# sfxpack's tests run twice: natively under the sanitizers
# (cmake/native.cmake) and here, built for Windows and run under Wine, with
# the build's stub and installer fixtures named by the environment.
set(SFXPACK_FIXTURES ${CMAKE_BINARY_DIR}/tests/sfxpack-fixtures)
add_custom_command(
  OUTPUT ${SFXPACK_FIXTURES}/bsdtar.zip
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make_fixtures.sh ${SFXPACK_FIXTURES}
          ${CMAKE_BINARY_DIR}/tests/fixtures/signed.exe ${CMAKE_BINARY_DIR}/tests/fixtures/unsigned.exe
          ${CMAKE_BINARY_DIR}/tests/signing ${PROJECT_SOURCE_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_fixtures.sh ${SIGN_SCRIPT} ${PROJECT_SOURCE_DIR}/tools/alter-file.py
          ${CMAKE_BINARY_DIR}/tests/fixtures/signed.exe
  COMMENT "Writing the packer's archive and signature fixtures")
add_custom_target(sfxpack_fixtures ALL DEPENDS ${SFXPACK_FIXTURES}/bsdtar.zip)
add_dependencies(sfxpack_fixtures launcher_fixtures)
set(SFXPACK_TEST_ENVIRONMENT
  "SFXPACK_FIXTURES=${SFXPACK_FIXTURES};SFXPACK_BSDTAR_ZIP=${SFXPACK_FIXTURES}/bsdtar.zip;SFXPACK_STUB=$<TARGET_FILE:sfx-stub>;SFXPACK_SIGNED=${CMAKE_BINARY_DIR}/tests/fixtures/signed.exe;SFXPACK_UNSIGNED=${CMAKE_BINARY_DIR}/tests/fixtures/unsigned.exe;SFXPACK_SPLASH=${PROJECT_SOURCE_DIR}/sample/splash.jpg;SFXPACK_ICON=${CMAKE_BINARY_DIR}/generated/quillane.ico")
file(GLOB SFXPACK_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
foreach(src ${SFXPACK_TEST_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  quillane_add_test(${name} SOURCES ${src} LIBS sfxpack_core)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "${SFXPACK_TEST_ENVIRONMENT}")
  add_dependencies(${name} sfx-stub launcher_fixtures sfxpack_fixtures)
endforeach()


# The whole road under Wine, with a 200 MiB file: packed natively with every
# core and with one thread, packed by sfxpack.exe under Wine, signed,
# verified, changed, run.
add_test(NAME sfxpack_wine_road
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine_road.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
quillane_wine_timeout(road_timeout 300)
set_tests_properties(sfxpack_wine_road PROPERTIES FIXTURES_REQUIRED wine_session TIMEOUT ${road_timeout})

# The native packer by its real road: signals, two runs at once, modes and
# the payload folder's identity; and the archive it writes as the common ZIP
# readers read it.
foreach(name output_road_test zip_readers_test)
  add_test(NAME sfxpack_${name} COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/${name}.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(sfxpack_${name} PROPERTIES TIMEOUT 300)
endforeach()
