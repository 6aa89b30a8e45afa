# CHD files (src/disc/containers_chd.cpp): their hunks are decompressed with
# zlib, liblzma and libFLAC, and libzstd where it is found. AUTO reads them
# when those libraries are found: in a native build, the system's; in a
# build whose C libraries come from a prefix of scripts/ (cmake/
# StaticDeps.cmake: the web page, the Windows program), the prefix's. The
# other cross builds (other processors) and the statically linked program
# leave them out, and the program then names a CHD as a file this build
# does not read, with chdman extractcd as the way out.
set(TVRCGCV_CHD AUTO CACHE STRING "Read CHD files (AUTO, ON or OFF)")
set_property(CACHE TVRCGCV_CHD PROPERTY STRINGS AUTO ON OFF)
set(TVRCGCV_CHD_ENABLED OFF)
set(TVRCGCV_CHD_LIBRARIES "")
set(TVRCGCV_CHD_ZSTD OFF)
set(TVRCGCV_CHD_LOADED OFF)
if(TVRCGCV_CHD AND TARGET tvrcgcv_deps::spng AND (EMSCRIPTEN OR MINGW))
  if(TARGET tvrcgcv_deps::chd)
    set(TVRCGCV_CHD_ENABLED ON)
    set(TVRCGCV_CHD_LIBRARIES tvrcgcv_deps::chd)
    if(TARGET tvrcgcv_deps::zstd)
      set(TVRCGCV_CHD_ZSTD ON)
      list(APPEND TVRCGCV_CHD_LIBRARIES tvrcgcv_deps::zstd)
    endif()
    message(STATUS "CHD files: read, with the libraries of the prefix (zstd: ${TVRCGCV_CHD_ZSTD})")
  elseif(TVRCGCV_CHD STREQUAL "ON")
    message(FATAL_ERROR "TVRCGCV_CHD=ON: the prefix of the C libraries has no liblzma or "
                        "libFLAC (a new run of its script builds them)")
  else()
    message(STATUS "CHD files: not read (the prefix of the C libraries has no liblzma or "
                   "libFLAC)")
  endif()
elseif(TVRCGCV_CHD STREQUAL "AUTO" AND (CMAKE_CROSSCOMPILING OR MINGW OR EMSCRIPTEN OR WIN32
                                    OR TVRCGCV_STATIC_PROGRAM))
  message(STATUS "CHD files: not read in this build (cross, Windows, web or static)")
elseif(TVRCGCV_CHD)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(TVRCGCV_CHD_CODECS QUIET zlib liblzma flac)
    pkg_check_modules(TVRCGCV_CHD_ZSTD_LIB QUIET libzstd)
  endif()
  if(TVRCGCV_CHD_CODECS_FOUND)
    set(TVRCGCV_CHD_ENABLED ON)
    set(TVRCGCV_CHD_LIBRARIES ${TVRCGCV_CHD_CODECS_LIBRARIES})
    if(TVRCGCV_CHD_ZSTD_LIB_FOUND)
      set(TVRCGCV_CHD_ZSTD ON)
      list(APPEND TVRCGCV_CHD_LIBRARIES ${TVRCGCV_CHD_ZSTD_LIB_LIBRARIES})
    endif()
    # Loaded when the first CHD file is opened (cmake/LoadedLibraries.cmake).
    include(${CMAKE_CURRENT_LIST_DIR}/LoadedLibraries.cmake)
    if(TVRCGCV_LIBRARIES_LOADED)
      set(_tvrcgcv_paths ${TVRCGCV_CHD_CODECS_LINK_LIBRARIES} ${TVRCGCV_CHD_ZSTD_LIB_LINK_LIBRARIES})
      tvrcgcv_soname(z "${_tvrcgcv_paths}" TVRCGCV_SONAME_ZLIB)
      tvrcgcv_soname(lzma "${_tvrcgcv_paths}" TVRCGCV_SONAME_LZMA)
      tvrcgcv_soname(FLAC "${_tvrcgcv_paths}" TVRCGCV_SONAME_FLAC)
      tvrcgcv_soname(zstd "${_tvrcgcv_paths}" TVRCGCV_SONAME_ZSTD)
      if(TVRCGCV_SONAME_ZLIB AND TVRCGCV_SONAME_LZMA AND TVRCGCV_SONAME_FLAC AND
         (TVRCGCV_SONAME_ZSTD OR NOT TVRCGCV_CHD_ZSTD))
        set(TVRCGCV_CHD_LOADED ON)
      endif()
    endif()
    message(STATUS "CHD files: read (zstd: ${TVRCGCV_CHD_ZSTD}; libraries loaded when first "
                   "needed: ${TVRCGCV_CHD_LOADED})")
  elseif(TVRCGCV_CHD STREQUAL "ON")
    message(FATAL_ERROR "TVRCGCV_CHD=ON needs zlib, liblzma and libFLAC (zlib1g-dev, "
                        "liblzma-dev, libflac-dev)")
  else()
    message(STATUS "CHD files: not read (no zlib, liblzma or libFLAC found)")
  endif()
endif()
# The installed .pc files name the libraries the static disc library needs
# (the .pc files are written at the top level, hence the cache).
set(_tvrcgcv_chd_pc_libraries ${TVRCGCV_CHD_LIBRARIES})
if(TVRCGCV_CHD_LOADED)
  set(_tvrcgcv_chd_pc_libraries ${CMAKE_DL_LIBS})
endif()
list(FILTER _tvrcgcv_chd_pc_libraries EXCLUDE REGEX "::")  # a prefix's: linked by path
list(TRANSFORM _tvrcgcv_chd_pc_libraries PREPEND "-l" OUTPUT_VARIABLE _tvrcgcv_chd_pc)
list(JOIN _tvrcgcv_chd_pc " " _tvrcgcv_chd_pc)
set(TVRCGCV_CHD_PC_LIBS "${_tvrcgcv_chd_pc}" CACHE INTERNAL "")

# Adds the reader to the disc library.
function(tvrcgcv_add_chd target)
  if(TVRCGCV_CHD_ENABLED)
    target_sources(${target} PRIVATE chd.cpp chd_codecs.cpp chd_layout.cpp chd_libraries.cpp
                                     containers_chd.cpp)
    target_include_directories(${target} SYSTEM PRIVATE ${TVRCGCV_CHD_CODECS_INCLUDE_DIRS})
    if(TVRCGCV_CHD_LOADED)
      target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
      target_compile_definitions(${target} PRIVATE TVRCGCV_CHD_LOADED=1
        TVRCGCV_SONAME_ZLIB="${TVRCGCV_SONAME_ZLIB}" TVRCGCV_SONAME_LZMA="${TVRCGCV_SONAME_LZMA}"
        TVRCGCV_SONAME_FLAC="${TVRCGCV_SONAME_FLAC}" TVRCGCV_SONAME_ZSTD="${TVRCGCV_SONAME_ZSTD}")
    else()
      target_link_directories(${target} PUBLIC ${TVRCGCV_CHD_CODECS_LIBRARY_DIRS})
      target_link_libraries(${target} PRIVATE ${TVRCGCV_CHD_LIBRARIES})
    endif()
    # TVRCGCV_CHD reaches the tests and fuzzers of the build tree too.
    target_compile_definitions(${target} PUBLIC $<BUILD_INTERFACE:TVRCGCV_CHD=1>
                               PRIVATE TVRCGCV_CHD_ZSTD=$<BOOL:${TVRCGCV_CHD_ZSTD}>)
  else()
    target_compile_definitions(${target} PUBLIC $<BUILD_INTERFACE:TVRCGCV_CHD=0>)
  endif()
endfunction()
