# End-to-end runs of the real launcher under Wine. Each test package gets a
# launcher of its own. Those sfxpack accepts are packed onto the stub like a
# product's: a folder gathered from the installer fixtures. The failure
# roads sfxpack refuses to build (no installer, damaged data, an installer
# changed after signing) are linked through the build's resource route from
# a package file.
add_executable(run-exact ${CMAKE_CURRENT_LIST_DIR}/run_exact.cpp)
target_link_options(run-exact PRIVATE -municode)

set(E2E ${CMAKE_BINARY_DIR}/tests/e2e)
file(MAKE_DIRECTORY ${E2E})
set(E2E_PACK ${Python3_EXECUTABLE} ${PACKAGE_SCRIPT})
set(E2E_FIX ${CMAKE_BINARY_DIR}/tests/fixtures)

# Packed by sfxpack: name -> the installer fixture, whether the sample files
# go beside it, other files that go beside it, the packer's extra arguments.
set(E2E_SETUP_happy signed.exe)
set(E2E_SETUP_unsigned unsigned.exe)
set(E2E_SETUP_bootstrap bootstrap.exe)
set(E2E_SAMPLE_happy ON)
set(E2E_ARGS_unsigned --allow-unsigned)
# An installer that hands its work to second stages, which read this file.
file(WRITE ${E2E}/stage-data.txt "second stage data 0123456789\n")
set(E2E_FILES_bootstrap ${E2E}/stage-data.txt)

set(E2E_LAUNCHERS)
foreach(name happy unsigned bootstrap)
  set(dir ${E2E}/${name}-package)
  set(launcher ${E2E}/${name}.exe)
  set(commands COMMAND ${CMAKE_COMMAND} -E rm -rf ${dir} COMMAND ${CMAKE_COMMAND} -E make_directory ${dir})
  if(E2E_SAMPLE_${name})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/sample/payload ${dir})
  endif()
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${E2E_FIX}/${E2E_SETUP_${name}} ${dir}/Setup.exe)
  foreach(file ${E2E_FILES_${name}})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${file} ${dir})
  endforeach()
  # The fixture files themselves, not only their target: a target alone
  # orders the build but never repacks a launcher when a fixture changes.
  add_custom_command(
    OUTPUT ${launcher}
    ${commands}
    COMMAND ${SFXPACK} --payload ${dir} --stub $<TARGET_FILE:sfx-stub> ${E2E_ARGS_${name}} -o ${launcher}
    DEPENDS sfx-stub sfxpack_native ${SFXPACK} launcher_fixtures ${E2E_FIX}/${E2E_SETUP_${name}}
            ${SAMPLE_FILES} ${E2E_FILES_${name}}
    COMMENT "Packing the ${name} test launcher")
  add_custom_target(e2e-launcher-${name} DEPENDS ${launcher})
  list(APPEND E2E_LAUNCHERS e2e-launcher-${name})
endforeach()

# Through the resource route: name -> make-package.py arguments.
set(E2E_PACKAGE_noinstaller --dir ${PROJECT_SOURCE_DIR}/sample/payload)
set(E2E_PACKAGE_damaged --raw-zip ${E2E}/damaged.zip)
set(E2E_PACKAGE_altered --file Setup.exe=${E2E_FIX}/altered.exe)

# The damaged package: the happy one's archive with a byte flipped inside
# the installer's compressed data.
add_custom_command(
  OUTPUT ${E2E}/damaged.zip
  COMMAND ${E2E_PACK} --out ${E2E}/happy-copy.bin --zip-out ${E2E}/happy.zip
          --dir ${PROJECT_SOURCE_DIR}/sample/payload --file Setup.exe=${E2E_FIX}/signed.exe
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/alter-file.py ${E2E}/happy.zip
          ${E2E}/damaged.zip
  DEPENDS launcher_fixtures ${E2E_FIX}/signed.exe ${PACKAGE_SCRIPT}
  COMMENT "Making the damaged test package")

foreach(name noinstaller damaged altered)
  set(dir ${E2E}/${name})
  file(MAKE_DIRECTORY ${dir})
  set(deps ${PACKAGE_SCRIPT} launcher_fixtures ${E2E_FIX}/signed.exe)
  if(name STREQUAL damaged)
    list(APPEND deps ${E2E}/damaged.zip)
  endif()
  add_custom_command(
    OUTPUT ${dir}/payload.bin
    COMMAND ${E2E_PACK} --out ${dir}/payload.bin ${E2E_PACKAGE_${name}}
    DEPENDS ${deps}
    COMMENT "Packing the ${name} test package")
  quillane_add_packed_launcher(e2e-launcher-${name} ${dir}/payload.bin ${E2E} ${name})
  # The shared resources (made by the real launcher's build) and the signed
  # fixtures are made once, before any of these launchers, never by two
  # targets at once.
  add_dependencies(e2e-launcher-${name} sfx-launcher launcher_fixtures)
  list(APPEND E2E_LAUNCHERS e2e-launcher-${name})
endforeach()

# Launchers whose picture no loader reads: the sample package with a
# 3-byte, a random and a cut-off "JPEG" resource. The packer refuses such
# pictures, so these are made through the build's resource route.
add_custom_command(
  OUTPUT ${E2E}/pictures/short.jpg ${E2E}/pictures/random.jpg ${E2E}/pictures/truncated.jpg
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make-broken-pictures.py
          ${PROJECT_SOURCE_DIR}/sample/splash.jpg ${E2E}/pictures
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make-broken-pictures.py ${PROJECT_SOURCE_DIR}/sample/splash.jpg
  COMMENT "Making the broken splash pictures")
add_custom_target(e2e_broken_pictures DEPENDS ${E2E}/pictures/short.jpg)
foreach(picture short random truncated)
  quillane_add_packed_launcher(e2e-launcher-picture-${picture} ${GEN}/payload.bin ${E2E}
                               picture-${picture} ${E2E}/pictures/${picture}.jpg)
  add_dependencies(e2e-launcher-picture-${picture} sfx_resources e2e_broken_pictures)
  list(APPEND E2E_LAUNCHERS e2e-launcher-picture-${picture})
endforeach()

quillane_add_test(launcher_e2e_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_e2e_test.cpp
                  LIBS ${ZLIB_STATIC} TIMEOUT 600)
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

# The real stages on a window station nobody sees, reading the packages of
# the test launchers above.
quillane_add_test(invisible_station_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/invisible_station_test.cpp)
add_dependencies(invisible_station_test ${E2E_LAUNCHERS})
