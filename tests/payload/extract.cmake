# The extraction tests link the ZIP reader, the pump and the splash window;
# until those sources exist they are held back (empty targets keep the
# test glob from adding them).
set(_extract_needs payload/zip_reader.cpp splash/message_pump.cpp splash/splash_window.cpp)
set(_extract_ready TRUE)
foreach(_need ${_extract_needs})
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${_need})
    set(_extract_ready FALSE)
  endif()
endforeach()
if(NOT _extract_ready)
  add_custom_target(extract_package_test)
  add_custom_target(extract_names_test)
endif()

# The resource road: a test program carrying the sample package.
if(_extract_ready)
  set(_dir ${CMAKE_CURRENT_LIST_DIR})
  quillane_add_test(extract_resource_test SOURCES ${_dir}/extract_resource_test.cpp ${_dir}/extract_resource.rc)
  add_dependencies(extract_resource_test sfx_resources)
  set_source_files_properties(${_dir}/extract_resource.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/payload.bin)
  # Wine shows the build machine's root as drive Z:.
  target_compile_definitions(extract_resource_test PRIVATE
    "QLN_SAMPLE_PAYLOAD=L\"Z:${PROJECT_SOURCE_DIR}/sample/payload\"")
endif()
