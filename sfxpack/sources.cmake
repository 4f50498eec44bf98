# The packer's sources, shared by every build of it (native, Windows,
# sanitized tests): its own files and the launcher's ZIP reader, entry
# name check and picture completeness check, so that it judges a package
# exactly as the launcher will.
get_filename_component(SFXPACK_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(GLOB SFXPACK_SOURCES CONFIGURE_DEPENDS ${SFXPACK_ROOT}/sfxpack/*.cpp)
list(REMOVE_ITEM SFXPACK_SOURCES ${SFXPACK_ROOT}/sfxpack/main.cpp)
list(APPEND SFXPACK_SOURCES ${SFXPACK_ROOT}/payload/zip_reader.cpp ${SFXPACK_ROOT}/payload/entry_name.cpp
     ${SFXPACK_ROOT}/support/jpeg_check.cpp)
set(SFXPACK_MAIN ${SFXPACK_ROOT}/sfxpack/main.cpp)
