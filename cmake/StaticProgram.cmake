# The statically linked Linux program (-DTVRCGCV_STATIC_PROGRAM=ON): one
# file that needs no shared library at all, only the kernel, so that it runs
# on any Linux of its architecture, older or newer than the build machine.
# The C library and the C++ runtime are linked in, libspng and zlib (PNG
# files, then written without loading anything) from the prefix that
# scripts/linux-static-deps.sh builds. A static program
# loads no module at run time: its console texts are converted by the
# program itself, and nothing else it does asks the C library for one.
#
#   scripts/linux-static-deps.sh x86_64-linux-gnu build-deps/x86_64-linux-gnu
#   cmake -S . -B build-static -DCMAKE_BUILD_TYPE=Release -DTVRCGCV_STATIC_PROGRAM=ON \
#     -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF
#
# TVRCGCV_STATIC_DEPS_PREFIX names the prefix (default build-deps/<the
# compiler's triple> in the source tree). The target tvrcgcv_static_link
# carries the link options of the program.
include_guard(GLOBAL)

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  message(FATAL_ERROR "TVRCGCV_STATIC_PROGRAM is for Linux builds")
endif()
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
  OUTPUT_VARIABLE _tvrcgcv_triple OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(TVRCGCV_STATIC_DEPS_PREFIX "${PROJECT_SOURCE_DIR}/build-deps/${_tvrcgcv_triple}"
    CACHE PATH "Prefix of scripts/linux-static-deps.sh's build for this target")
if(NOT EXISTS "${TVRCGCV_STATIC_DEPS_PREFIX}/share/tvrcgcv-static-deps/stamp")
  message(FATAL_ERROR "No static libraries in ${TVRCGCV_STATIC_DEPS_PREFIX}: run\n"
    "  scripts/linux-static-deps.sh ${_tvrcgcv_triple} ${TVRCGCV_STATIC_DEPS_PREFIX}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/StaticDeps.cmake)
tvrcgcv_static_deps("${TVRCGCV_STATIC_DEPS_PREFIX}")

# Position-independent where the C library has its start files for it
# (static-pie: the program's addresses are still randomised), else plain
# static.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
check_cxx_source_compiles("int main() { return 0; }" TVRCGCV_LINKS_STATIC_PIE)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
add_library(tvrcgcv_static_link INTERFACE)
if(TVRCGCV_LINKS_STATIC_PIE)
  target_link_options(tvrcgcv_static_link INTERFACE -static-pie)
else()
  target_link_options(tvrcgcv_static_link INTERFACE -static)
endif()
