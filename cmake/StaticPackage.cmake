# The release archive of the statically linked Linux program (included by
# cmake/Packaging.cmake): tvrcgcv-<version>-linux-<arch>.tar.gz with the
# Runtime component (the program, its manual page, the README) and
# LICENSE and THIRD-PARTY.txt, which name the libraries linked into the
# program and carry their licence texts.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(TVRCGCV_STATIC_ARCH arm64)
else()
  set(TVRCGCV_STATIC_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

# The C library's version, as its headers state it.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/glibc-version.c "#include <features.h>\n")
execute_process(COMMAND ${CMAKE_C_COMPILER} -E -dM ${CMAKE_CURRENT_BINARY_DIR}/glibc-version.c
  OUTPUT_VARIABLE _tvrcgcv_macros COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "#define __GLIBC__ ([0-9]+)" _ "${_tvrcgcv_macros}")
set(_tvrcgcv_glibc_major "${CMAKE_MATCH_1}")
string(REGEX MATCH "#define __GLIBC_MINOR__ ([0-9]+)" _ "${_tvrcgcv_macros}")
set(TVRCGCV_GLIBC_VERSION "${_tvrcgcv_glibc_major}.${CMAKE_MATCH_1}")

# Pairs: a heading, the file of the text.
set(_tvrcgcv_licences
  "libspng/LICENSE" "${TVRCGCV_STATIC_DEPS_PREFIX}/share/licenses/libspng/LICENSE"
  "zlib/copyright" "${TVRCGCV_STATIC_DEPS_PREFIX}/share/licenses/zlib/copyright"
  "GNU Lesser General Public License 2.1 (the GNU C Library)"
  /usr/share/common-licenses/LGPL-2.1)
file(STRINGS "${TVRCGCV_STATIC_DEPS_PREFIX}/include/zlib.h" _tvrcgcv_zlib
  REGEX "^#define ZLIB_VERSION \"")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" TVRCGCV_DEPS_ZLIB_VERSION "${_tvrcgcv_zlib}")
configure_file(packaging/linux/THIRD-PARTY.txt.in third-party-head.txt @ONLY)
file(READ ${CMAKE_CURRENT_BINARY_DIR}/third-party-head.txt _tvrcgcv_third_party)
while(_tvrcgcv_licences)
  list(POP_FRONT _tvrcgcv_licences _name _file)
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "THIRD-PARTY.txt: no licence text ${_file}")
  endif()
  file(READ "${_file}" _text)
  string(APPEND _tvrcgcv_third_party "\n\n----- ${_name} -----\n\n${_text}")
endwhile()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY.txt "${_tvrcgcv_third_party}")
install(FILES LICENSE ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY.txt
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrcgcv COMPONENT StaticDocuments EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME tvrcgcv-${PROJECT_VERSION}-linux-${TVRCGCV_STATIC_ARCH})
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};tvrcgcv;${TVRCGCV_RUNTIME_COMPONENT};/"
  "${CMAKE_BINARY_DIR};tvrcgcv;StaticDocuments;/")
