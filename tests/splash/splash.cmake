# The decoding test carries a "JPEG" picture resource of its own, 400 x 300,
# with the launcher's icon and manifest.
set(SPLASH_TESTS ${CMAKE_BINARY_DIR}/tests/splash)
file(MAKE_DIRECTORY ${SPLASH_TESTS})
set(SPLASH_PICTURE ${PROJECT_SOURCE_DIR}/tests/splash/fixtures/picture-400x300.jpg)

# splash_resources(NAME PICTURE [PAYLOAD]) -> ${SPLASH_TESTS}/NAME.rc
function(splash_resources name picture)
  set(text "#include <windows.h>\n101 ICON \"${GEN}/quillane.ico\"\n103 JPEG \"${picture}\"\n")
  if(ARGC GREATER 2)
    string(APPEND text "ZIPFILE FILE_DATA \"${ARGV2}\"\n")
  endif()
  string(APPEND text "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${GEN}/launcher.manifest\"\n")
  file(WRITE ${SPLASH_TESTS}/${name}.rc.in "${text}")
  configure_file(${SPLASH_TESTS}/${name}.rc.in ${SPLASH_TESTS}/${name}.rc COPYONLY)
  set_source_files_properties(${SPLASH_TESTS}/${name}.rc PROPERTIES
    OBJECT_DEPENDS "${picture};${GEN}/quillane.ico;${GEN}/launcher.manifest;${ARGV2}")
endfunction()

splash_resources(picture ${SPLASH_PICTURE})
quillane_add_test(jpeg_decode_test SOURCES ${PROJECT_SOURCE_DIR}/tests/splash/jpeg_decode_test.cpp
                  ${SPLASH_TESTS}/picture.rc)
add_dependencies(jpeg_decode_test sfx_resources)

# The window tests carry the sample's picture, 420 x 240, as the launcher does.
splash_resources(sample_picture ${PROJECT_SOURCE_DIR}/sample/splash.jpg)
foreach(name splash_window_test splash_picture_test)
  quillane_add_test(${name} SOURCES ${PROJECT_SOURCE_DIR}/tests/splash/${name}.cpp
                    ${SPLASH_TESTS}/sample_picture.rc)
  add_dependencies(${name} sfx_resources)
endforeach()

# The watcher that finds a launcher's splash window from outside, for the
# DPI test and the demo's screenshots.
add_executable(splash-watch ${PROJECT_SOURCE_DIR}/tests/splash/splash_watch.cpp)
target_include_directories(splash-watch PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(splash-watch PRIVATE -municode)

# A launcher with a picture of odd size, made like the real one.
quillane_add_packed_launcher(splash-launcher-301x199 ${GEN}/payload.bin ${SPLASH_TESTS}
                             splash-301x199 ${PROJECT_SOURCE_DIR}/sample/splash-301x199.jpg)
add_dependencies(splash-launcher-301x199 sfx_resources)

# Both launchers and the picture test at 96, 110, 120 and 144 DPI. The DPI is
# the whole prefix's, so nothing else runs meanwhile.
add_test(NAME splash_dpi_test
         COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tests/splash/splash_dpi_test.py
                 ${CMAKE_BINARY_DIR})
quillane_wine_timeout(dpi_timeout 300)
set_tests_properties(splash_dpi_test PROPERTIES FIXTURES_REQUIRED wine_session
                     RUN_SERIAL TRUE TIMEOUT ${dpi_timeout})
