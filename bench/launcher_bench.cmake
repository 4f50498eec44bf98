# The launcher benchmark: real launchers around two generated packages, the
# limit program, and the driver that times them side by side under a Wine
# prefix of its own (bench/launcher_bench.sh, run by `make bench`).
set(LB ${CMAKE_BINARY_DIR}/bench/launcher)
file(MAKE_DIRECTORY ${LB})

add_executable(extract_limit bench/extract_limit.cpp)
target_link_libraries(extract_limit PRIVATE ${ZLIB_STATIC})
target_link_options(extract_limit PRIVATE -municode)

add_executable(launcher_bench bench/launcher_bench.cpp)
target_link_libraries(launcher_bench PRIVATE sfx_core psapi)
target_include_directories(launcher_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(launcher_bench PRIVATE -municode)
# The hook that counts the launcher window's "Extracting file" texts, loaded
# into the launcher by the system; its procedure is exported undecorated.
add_library(text_counter SHARED bench/text_counter.cpp)
target_include_directories(text_counter PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(text_counter PRIVATE -static -static-libgcc -Wl,--kill-at)
set_target_properties(text_counter PROPERTIES PREFIX "")
add_dependencies(launcher_bench text_counter)
set_target_properties(extract_limit launcher_bench text_counter PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LB})

set(LB_INSTALLER ${CMAKE_BINARY_DIR}/sample/Setup.exe)
set(LB_LAUNCHERS)
foreach(kind mixed small)
  set(dir ${LB}/${kind})
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(
    OUTPUT ${dir}/payload.bin
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/make_bench_package.py --kind ${kind}
            --installer ${LB_INSTALLER} --out ${dir}/archive.zip
    COMMAND ${Python3_EXECUTABLE} ${PACKAGE_SCRIPT} --raw-zip ${dir}/archive.zip --out ${dir}/payload.bin
    DEPENDS ${PROJECT_SOURCE_DIR}/bench/make_bench_package.py ${PACKAGE_SCRIPT} ${LB_INSTALLER}
    COMMENT "Making the ${kind} benchmark package")
  quillane_add_packed_launcher(bench-launcher-${kind} ${dir}/payload.bin ${LB} ${kind})
endforeach()

configure_file(bench/launcher_bench.sh ${CMAKE_BINARY_DIR}/bench/launcher_bench.sh @ONLY)
