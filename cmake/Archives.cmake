# Zip and 7z archives read as disc images (src/disc/containers_archive.cpp),
# through Debian's libarchive (libarchive-dev). TVRCGCV_ARCHIVES: AUTO uses
# it where it is found: in the web and Windows builds, in the prefix of
# their C libraries (cmake/StaticDeps.cmake), where that has it; not in the
# other cross builds nor the statically linked program, whose C libraries
# hold no libarchive. ON requires it; OFF leaves it out, and such a build
# says of an archive that it does not read it and that it is to be
# unpacked.
set(TVRCGCV_ARCHIVES AUTO CACHE STRING "Read zip and 7z archives with libarchive: AUTO, ON or OFF")
set_property(CACHE TVRCGCV_ARCHIVES PROPERTY STRINGS AUTO ON OFF)

set(_tvrcgcv_archives OFF)
set(_tvrcgcv_archive_target LibArchive::LibArchive)
if(TVRCGCV_ARCHIVES AND TARGET tvrcgcv_deps::spng AND (EMSCRIPTEN OR MINGW))
  if(TARGET tvrcgcv_deps::archive)
    set(_tvrcgcv_archives ON)
    set(_tvrcgcv_archive_target tvrcgcv_deps::archive)
    set(LibArchive_VERSION "${TVRCGCV_DEPS_ARCHIVE_VERSION} (the prefix's)")
  elseif(TVRCGCV_ARCHIVES STREQUAL "ON")
    message(FATAL_ERROR "TVRCGCV_ARCHIVES=ON: the prefix of the C libraries has no libarchive "
                        "(a new run of its script builds it)")
  endif()
elseif(TVRCGCV_ARCHIVES STREQUAL "ON")
  find_package(LibArchive REQUIRED)
  set(_tvrcgcv_archives ON)
elseif(TVRCGCV_ARCHIVES STREQUAL "AUTO" AND NOT (CMAKE_CROSSCOMPILING OR MINGW OR EMSCRIPTEN OR
       TVRCGCV_STATIC_PROGRAM))
  find_package(LibArchive QUIET)
  set(_tvrcgcv_archives ${LibArchive_FOUND})
endif()
# Seen by the install rules (the CMake package and the .pc files).
set(TVRCGCV_WITH_ARCHIVES ${_tvrcgcv_archives} CACHE INTERNAL "")

if(TVRCGCV_WITH_ARCHIVES)
  message(STATUS "Archives: zip and 7z read with libarchive ${LibArchive_VERSION}")
  target_sources(tvrcgcv_disc PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/archive_members.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/archive_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/containers_archive.cpp)
  # Linked by whatever links the static library, in any folder.
  if(_tvrcgcv_archive_target STREQUAL "LibArchive::LibArchive")
    set_target_properties(LibArchive::LibArchive PROPERTIES IMPORTED_GLOBAL TRUE)
  endif()
  target_link_libraries(tvrcgcv_disc PRIVATE ${_tvrcgcv_archive_target})
  target_compile_definitions(tvrcgcv_disc PRIVATE TVRCGCV_WITH_ARCHIVES=1)
  # The installed static library brings its user libarchive too.
  set(TVRCGCV_PC_DISC_REQUIRES "libarchive" CACHE INTERNAL "")
else()
  message(STATUS "Archives: not read (TVRCGCV_ARCHIVES=${TVRCGCV_ARCHIVES}; libarchive-dev)")
  target_compile_definitions(tvrcgcv_disc PRIVATE TVRCGCV_WITH_ARCHIVES=0)
  set(TVRCGCV_PC_DISC_REQUIRES "" CACHE INTERNAL "")
endif()
