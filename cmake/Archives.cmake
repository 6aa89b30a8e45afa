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
# Loaded when the first archive is opened (cmake/LoadedLibraries.cmake).
set(TVRCGCV_ARCHIVES_LOADED OFF)
if(_tvrcgcv_archives AND _tvrcgcv_archive_target STREQUAL "LibArchive::LibArchive")
  include(${CMAKE_CURRENT_LIST_DIR}/LoadedLibraries.cmake)
  if(TVRCGCV_LIBRARIES_LOADED)
    tvrcgcv_soname(archive "${LibArchive_LIBRARIES}" TVRCGCV_SONAME_ARCHIVE)
    if(TVRCGCV_SONAME_ARCHIVE)
      set(TVRCGCV_ARCHIVES_LOADED ON)
    endif()
  endif()
endif()
# Seen by the install rules (the CMake package): libarchive is a dependency
# of the static disc library only where it is linked.
set(TVRCGCV_ARCHIVES_LINKED ${_tvrcgcv_archives})
if(TVRCGCV_ARCHIVES_LOADED)
  set(TVRCGCV_ARCHIVES_LINKED OFF)
endif()
set(TVRCGCV_ARCHIVES_LINKED ${TVRCGCV_ARCHIVES_LINKED} CACHE INTERNAL "")
# Seen by the install rules (the CMake package and the .pc files).
set(TVRCGCV_WITH_ARCHIVES ${_tvrcgcv_archives} CACHE INTERNAL "")

if(TVRCGCV_WITH_ARCHIVES)
  message(STATUS "Archives: zip and 7z read with libarchive ${LibArchive_VERSION} (loaded when "
                 "first needed: ${TVRCGCV_ARCHIVES_LOADED})")
  target_sources(tvrcgcv_disc PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/archive_members.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/archive_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../src/disc/containers_archive.cpp)
  target_compile_definitions(tvrcgcv_disc PRIVATE TVRCGCV_WITH_ARCHIVES=1)
  if(TVRCGCV_ARCHIVES_LOADED)
    target_include_directories(tvrcgcv_disc SYSTEM PRIVATE ${LibArchive_INCLUDE_DIRS})
    target_link_libraries(tvrcgcv_disc PRIVATE ${CMAKE_DL_LIBS})
    target_compile_definitions(tvrcgcv_disc PRIVATE TVRCGCV_ARCHIVES_LOADED=1
                               TVRCGCV_SONAME_ARCHIVE="${TVRCGCV_SONAME_ARCHIVE}")
    set(TVRCGCV_PC_DISC_REQUIRES "" CACHE INTERNAL "")
  else()
    # Linked by whatever links the static library, in any folder.
    if(_tvrcgcv_archive_target STREQUAL "LibArchive::LibArchive")
      set_target_properties(LibArchive::LibArchive PROPERTIES IMPORTED_GLOBAL TRUE)
    endif()
    target_link_libraries(tvrcgcv_disc PRIVATE ${_tvrcgcv_archive_target})
    # The installed static library brings its user libarchive too.
    set(TVRCGCV_PC_DISC_REQUIRES "libarchive" CACHE INTERNAL "")
  endif()
else()
  message(STATUS "Archives: not read (TVRCGCV_ARCHIVES=${TVRCGCV_ARCHIVES}; libarchive-dev)")
  target_compile_definitions(tvrcgcv_disc PRIVATE TVRCGCV_WITH_ARCHIVES=0)
  set(TVRCGCV_PC_DISC_REQUIRES "" CACHE INTERNAL "")
endif()
