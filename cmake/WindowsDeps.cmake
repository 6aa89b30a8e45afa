# The C libraries of the Windows build, as scripts/windows-deps.sh installs
# them (static, for one mingw-w64 target) into a prefix:
#   tvrcgcv_deps::cdio  libiso9660 and libcdio (with the small iconv)
#   tvrcgcv_deps::spng  libspng and zlib (SPNG_STATIC is defined for users)
# Both are read from the prefix's pkg-config files with their static link
# flags (Requires.private and Libs.private included), and the libraries are
# taken by full path, so that only the .a files of the prefix are linked.
#
# Include this from a mingw-w64 cross build, with
#   -DTVRCGCV_WINDOWS_DEPS_PREFIX=<prefix>
# (default: build-deps/<target triple> in the source tree), e.g.
#   include(cmake/WindowsDeps.cmake)
#   target_link_libraries(app PRIVATE tvrcgcv_deps::cdio tvrcgcv_deps::spng)
include_guard(GLOBAL)

if(NOT DEFINED TVRCGCV_MINGW_TRIPLE)
  message(FATAL_ERROR "WindowsDeps.cmake is for the mingw-w64 build "
                      "(cmake/toolchains/mingw-w64.cmake)")
endif()
get_filename_component(_tvrcgcv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TVRCGCV_WINDOWS_DEPS_PREFIX "${_tvrcgcv_root}/build-deps/${TVRCGCV_MINGW_TRIPLE}"
    CACHE PATH "Prefix of scripts/windows-deps.sh's build for this target")
if(NOT EXISTS "${TVRCGCV_WINDOWS_DEPS_PREFIX}/share/tvrcgcv-windows-deps/stamp")
  message(FATAL_ERROR "No Windows libraries in ${TVRCGCV_WINDOWS_DEPS_PREFIX}: run\n"
                      "  scripts/windows-deps.sh ${TVRCGCV_MINGW_TRIPLE} ${TVRCGCV_WINDOWS_DEPS_PREFIX}")
endif()

find_package(PkgConfig REQUIRED)

# pkg-config reads the prefix's .pc files only, never the build machine's.
set(_tvrcgcv_saved_env PKG_CONFIG_LIBDIR PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR)
foreach(_name IN LISTS _tvrcgcv_saved_env)
  set(_tvrcgcv_saved_${_name} "$ENV{${_name}}")
endforeach()
set(ENV{PKG_CONFIG_LIBDIR} "${TVRCGCV_WINDOWS_DEPS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(_tvrcgcv_saved_use_prefix_path "${PKG_CONFIG_USE_CMAKE_PREFIX_PATH}")
set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
pkg_check_modules(TVRCGCV_DEPS_CDIO REQUIRED libiso9660)  # and libcdio, which it requires
pkg_check_modules(TVRCGCV_DEPS_SPNG REQUIRED libspng)
set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH "${_tvrcgcv_saved_use_prefix_path}")
foreach(_name IN LISTS _tvrcgcv_saved_env)
  set(ENV{${_name}} "${_tvrcgcv_saved_${_name}}")
endforeach()

# An imported target from pkg-config's --static answers. A library of the
# prefix is linked as its .a file; any other (a Windows system library such
# as ws2_32) by name, from the toolchain.
function(_tvrcgcv_deps_target target module)
  set(libraries "")
  foreach(library IN LISTS ${module}_STATIC_LIBRARIES)
    set(path "${TVRCGCV_WINDOWS_DEPS_PREFIX}/lib/lib${library}.a")
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

if(NOT TARGET tvrcgcv_deps::cdio)
  _tvrcgcv_deps_target(tvrcgcv_deps::cdio TVRCGCV_DEPS_CDIO)
  _tvrcgcv_deps_target(tvrcgcv_deps::spng TVRCGCV_DEPS_SPNG)
endif()
