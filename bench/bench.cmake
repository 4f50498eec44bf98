# Benchmarks: programs in build/bench, run by `make bench` (tools/bench.sh),
# each printing its own figures.
add_executable(extract_bench bench/extract_bench.cpp)
target_link_libraries(extract_bench PRIVATE sfx_core imaging support ${ZLIB_STATIC} psapi)
target_include_directories(extract_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(extract_bench PRIVATE -municode)
set_target_properties(extract_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
# The native side of the comparison: unzip cannot be started from inside Wine.
configure_file(bench/unzip_bench.sh ${CMAKE_BINARY_DIR}/bench/unzip_bench.sh COPYONLY)

# Resampling benchmark (build/bench/resample_bench.sh): ResizeImage under
# Wine with the SSE2 kernels and, from a second copy of the library, with the
# scalar references alone. Its native figures come from native/ and Pillow's
# from bench/pillow_resize.py. The programs live outside build/bench, which
# tools/bench.sh runs one by one: the script runs them and prints one table.
# (Until the library has ResizeImage, only the native figures and Pillow's.)
if(EXISTS ${PROJECT_SOURCE_DIR}/imaging/resize_image.cpp)
add_library(imaging_reference STATIC ${IMAGING_SOURCES})
target_link_libraries(imaging_reference PUBLIC support gdi32 user32)
target_compile_definitions(imaging_reference PUBLIC IMAGING_REFERENCE_ONLY)
foreach(variant sse2 reference)
  add_executable(resize_bench_${variant} bench/resize_bench.cpp)
  target_include_directories(resize_bench_${variant} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(resize_bench_${variant} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench-resample)
endforeach()
target_link_libraries(resize_bench_sse2 PRIVATE imaging support)
target_link_libraries(resize_bench_reference PRIVATE imaging_reference support)
endif()
configure_file(bench/resample_bench.sh.in ${CMAKE_BINARY_DIR}/bench/resample_bench.sh @ONLY)

include(bench/launcher_bench.cmake)
