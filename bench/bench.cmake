# Benchmarks: programs in build/bench, run by `make bench` (tools/bench.sh),
# each printing its own figures.
add_executable(extract_bench bench/extract_bench.cpp)
target_link_libraries(extract_bench PRIVATE sfx_core imaging support ${ZLIB_STATIC} psapi)
target_include_directories(extract_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(extract_bench PRIVATE -municode)
set_target_properties(extract_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
# The native side of the comparison: unzip cannot be started from inside Wine.
configure_file(bench/unzip_bench.sh ${CMAKE_BINARY_DIR}/bench/unzip_bench.sh COPYONLY)
# sfxpack against zip -r on a 500 MB folder (native, no Wine).
configure_file(bench/sfxpack_bench.sh ${CMAKE_BINARY_DIR}/bench/sfxpack_bench.sh @ONLY)

# Resampling benchmark (build/bench/resample_bench.sh): ResizeImage under
# Wine with the SSE2 kernels and with the scalar references alone, in one
# program. Its native figures come from native/ and Pillow's from
# bench/pillow_resize.py. The program lives outside build/bench, which
# tools/bench.sh runs one by one: the script runs it and prints one table.
add_executable(resize_bench bench/resize_bench.cpp)
target_include_directories(resize_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(resize_bench PRIVATE imaging support)
set_target_properties(resize_bench PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench-resample)
configure_file(bench/resample_bench.sh.in ${CMAKE_BINARY_DIR}/bench/resample_bench.sh @ONLY)

include(bench/launcher_bench.cmake)
