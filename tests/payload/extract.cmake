# The resource road: a test program carrying the sample package as the
# launcher carries it.
set(_dir ${CMAKE_CURRENT_LIST_DIR})
quillane_add_test(extract_resource_test SOURCES ${_dir}/extract_resource_test.cpp ${_dir}/extract_resource.rc)
add_dependencies(extract_resource_test sfx_resources)
set_source_files_properties(${_dir}/extract_resource.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/payload.bin)
# Wine shows the build machine's root as drive Z:.
target_compile_definitions(extract_resource_test PRIVATE
  "QLN_SAMPLE_PAYLOAD=L\"Z:${PROJECT_SOURCE_DIR}/sample/payload\"")
