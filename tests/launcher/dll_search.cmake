# A small DLL planted beside the loader test: once as a DLL the program could
# load by name, once under a neutral name that the test copies into its
# current directory. It is built away from bin/, so it never lies beside the
# launcher itself.
add_library(qln_planted SHARED ${CMAKE_CURRENT_LIST_DIR}/planted_dll.c)
set_target_properties(qln_planted PROPERTIES PREFIX "" OUTPUT_NAME qlnplanted
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/planted)
target_link_options(qln_planted PRIVATE -static-libgcc)

quillane_add_test(dll_search_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dll_search_test.cpp)
add_dependencies(dll_search_test qln_planted)
add_custom_command(TARGET dll_search_test POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qln_planted>
          $<TARGET_FILE_DIR:dll_search_test>/qlnplanted_app.dll
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qln_planted>
          $<TARGET_FILE_DIR:dll_search_test>/qlnplanted_cwd.bin)
