# The C libraries that another system's build links statically, as a
# script of scripts/ installs them into a prefix (include/, lib/*.a and
# relocatable lib/pkgconfig/*.pc):
#   tvrcgcv_deps::spng  libspng and zlib (SPNG_STATIC is defined for users)
# and, where the prefix has them (cmake/Chd.cmake and cmake/Archives.cmake
# then use them):
#   tvrcgcv_deps::chd      zlib, liblzma and libFLAC, for CHD files
#   tvrcgcv_deps::zstd     libzstd, for CHD files' zstd hunks
#   tvrcgcv_deps::archive  libarchive, for zip and 7z archives
# It is read from the prefix's pkg-config files with their static link
# flags (Requires.private and Libs.private included), and the libraries are
# taken by full path, so that only the .a files of the prefix are linked.
# Included by cmake/WindowsDeps.cmake, cmake/WasmDeps.cmake and
# cmake/StaticProgram.cmake.
#
#   tvrcgcv_static_deps(<prefix>)
include_guard(GLOBAL)

find_package(PkgConfig REQUIRED)

# An imported target from pkg-config's --static answers. A library of the
# prefix is linked as its .a file; any other (a system library such as
# ws2_32) by name, from the toolchain.
function(_tvrcgcv_deps_target prefix target module)
  set(libraries "")
  foreach(library IN LISTS ${module}_STATIC_LIBRARIES)
    set(path "${prefix}/lib/lib${library}.a")
    if(EXISTS "${path}")
      list(APPEND libraries "${path}")
    else()
      list(APPEND libraries "${library}")
    endif()
  endforeach()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${${module}_STATIC_INCLUDE_DIRS}"
    INTERFACE_COMPILE_OPTIONS "${${module}_STATIC_CFLAGS_OTHER}"
    INTERFACE_LINK_LIBRARIES "${libraries}")
endfunction()

macro(tvrcgcv_static_deps prefix)
  if(NOT TARGET tvrcgcv_deps::spng)
    # pkg-config reads the prefix's .pc files only, never the build machine's.
    set(_tvrcgcv_saved_env PKG_CONFIG_LIBDIR PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR)
    foreach(_name IN LISTS _tvrcgcv_saved_env)
      set(_tvrcgcv_had_${_name} OFF)
      if(DEFINED ENV{${_name}})
        set(_tvrcgcv_had_${_name} ON)
      endif()
      set(_tvrcgcv_saved_${_name} "$ENV{${_name}}")
    endforeach()
    set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
    set(_tvrcgcv_saved_use_prefix_path "${PKG_CONFIG_USE_CMAKE_PREFIX_PATH}")
    set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
    pkg_check_modules(TVRCGCV_DEPS_SPNG REQUIRED libspng)
    pkg_check_modules(TVRCGCV_DEPS_CHD QUIET zlib liblzma flac)
    pkg_check_modules(TVRCGCV_DEPS_ZSTD QUIET libzstd)
    pkg_check_modules(TVRCGCV_DEPS_ARCHIVE QUIET libarchive)
    set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH "${_tvrcgcv_saved_use_prefix_path}")
    foreach(_name IN LISTS _tvrcgcv_saved_env)  # as they were: set, or not set at all
      if(_tvrcgcv_had_${_name})
        set(ENV{${_name}} "${_tvrcgcv_saved_${_name}}")
      else()
        unset(ENV{${_name}})
      endif()
    endforeach()
    _tvrcgcv_deps_target("${prefix}" tvrcgcv_deps::spng TVRCGCV_DEPS_SPNG)
    foreach(_name IN ITEMS chd zstd archive)
      string(TOUPPER ${_name} _module)
      if(TVRCGCV_DEPS_${_module}_FOUND)
        _tvrcgcv_deps_target("${prefix}" tvrcgcv_deps::${_name} TVRCGCV_DEPS_${_module})
      endif()
    endforeach()
  endif()
endmacro()
