# The C libraries of the Windows build, as scripts/windows-deps.sh installs
# them (static, for one mingw-w64 target) into a prefix:
#   tvrcgcv_deps::spng  libspng and zlib (SPNG_STATIC is defined for users)
# (cmake/StaticDeps.cmake makes the target.)
#
# Include this from a mingw-w64 cross build, with
#   -DTVRCGCV_WINDOWS_DEPS_PREFIX=<prefix>
# (default: build-deps/<target triple> in the source tree), e.g.
#   include(cmake/WindowsDeps.cmake)
#   target_link_libraries(app PRIVATE tvrcgcv_deps::spng)
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

include(${CMAKE_CURRENT_LIST_DIR}/StaticDeps.cmake)
tvrcgcv_static_deps("${TVRCGCV_WINDOWS_DEPS_PREFIX}")
