# Release packages, made by CPack from a build tree (run cpack in it):
#
#   Linux    Debian packages tvrcgcv_<version>_<arch>.deb (the program, its
#            manual page, the README: component Runtime) and
#            tvrcgcv-dev_<version>_<arch>.deb (libraries, headers, CMake
#            package: component Development). Configure with
#            -DCMAKE_INSTALL_PREFIX=/usr for Debian's library folders.
#   Windows  tvrcgcv-<version>-windows.zip: win64\tvrcgcv.exe and
#            win32\tvrcgcv.exe, README.txt, LICENSE.txt and THIRD-PARTY.txt
#            (the libraries linked in, their licences) with CR LF line
#            ends. The executable of this build goes into the folder of its
#            word size; TVRCGCV_WINDOWS_OTHER_BUILD names the build tree of
#            the other word size, whose executable goes into the other one.
#            TVRCGCV_WEB_PAGE names the built web page (scripts/web.sh
#            --build prints it), which goes into web\ as it is.
#   Linux, statically linked (TVRCGCV_STATIC_PROGRAM)
#            tvrcgcv-<version>-linux-<x86_64|arm64>.tar.gz, one folder of
#            that name with bin/tvrcgcv, share/man/man1/tvrcgcv.1.gz and
#            share/doc/tvrcgcv/ (README.md, LICENSE and THIRD-PARTY.txt: the
#            libraries linked in, their versions and licences).
#
# The version is the project's.
set(CPACK_PACKAGE_NAME tvrcgcv)
set(CPACK_PACKAGE_VENDOR "the tvrcgcv project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(TVRCGCV_WINDOWS_OTHER_BUILD "" CACHE PATH
    "Build tree of the other Windows word size, whose tvrcgcv.exe the zip also holds")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_tvrcgcv_folder win64)
    set(_tvrcgcv_other_folder win32)
  else()
    set(_tvrcgcv_folder win32)
    set(_tvrcgcv_other_folder win64)
  endif()
  # The zip's own install rules, left out of a plain cmake --install.
  configure_file(packaging/windows/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS tvrcgcv RUNTIME DESTINATION . COMPONENT WindowsProgram EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
    DESTINATION . COMPONENT WindowsDocuments EXCLUDE_FROM_ALL)
  # The libraries linked into the executables, with their licences.
  if(TARGET tvrcgcv_deps::spng)
    set(TVRCGCV_SPNG_VERSION ${TVRCGCV_DEPS_SPNG_VERSION})
    set(TVRCGCV_WINDOWS_DISC_LIBRARIES "")
    if(TARGET tvrcgcv_deps::chd)
      string(APPEND TVRCGCV_WINDOWS_DISC_LIBRARIES
        "- liblzma, libFLAC and libzstd (decompressing CHD files and archives):\n"
        "  public domain, BSD 3-Clause and BSD 3-Clause licences.\n")
    endif()
    if(TARGET tvrcgcv_deps::archive)
      string(APPEND TVRCGCV_WINDOWS_DISC_LIBRARIES
        "- libarchive ${TVRCGCV_DEPS_ARCHIVE_VERSION} (reading zip and 7z archives): BSD 2-Clause\n"
        "  licence.\n")
    endif()
    configure_file(packaging/windows/THIRD-PARTY.txt.in third-party-head.txt @ONLY)
    file(READ ${CMAKE_CURRENT_BINARY_DIR}/third-party-head.txt _tvrcgcv_third_party)
    file(GLOB _tvrcgcv_licences "${TVRCGCV_WINDOWS_DEPS_PREFIX}/share/licenses/*/*")
    list(SORT _tvrcgcv_licences)
    foreach(_licence IN LISTS _tvrcgcv_licences)
      file(READ ${_licence} _text)
      file(RELATIVE_PATH _name "${TVRCGCV_WINDOWS_DEPS_PREFIX}/share/licenses" ${_licence})
      string(APPEND _tvrcgcv_third_party "\n\n----- ${_name} -----\n\n${_text}")
    endforeach()
    # Lines end in CR LF, as in the zip's other texts.
    string(REPLACE "\r\n" "\n" _tvrcgcv_third_party "${_tvrcgcv_third_party}")
    string(REPLACE "\n" "\r\n" _tvrcgcv_third_party "${_tvrcgcv_third_party}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY.txt "${_tvrcgcv_third_party}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY.txt
      DESTINATION . COMPONENT WindowsDocuments EXCLUDE_FROM_ALL)
  endif()

  # The web page, built by scripts/web.sh with emscripten.
  set(TVRCGCV_WEB_PAGE "" CACHE PATH "The built web page (build-web/page), which the zip carries")
  if(TVRCGCV_WEB_PAGE)
    if(NOT EXISTS "${TVRCGCV_WEB_PAGE}/index.html" OR NOT EXISTS "${TVRCGCV_WEB_PAGE}/worker.wasm")
      message(FATAL_ERROR "TVRCGCV_WEB_PAGE: no built page in ${TVRCGCV_WEB_PAGE}")
    endif()
    install(DIRECTORY "${TVRCGCV_WEB_PAGE}/" DESTINATION . COMPONENT WindowsWeb EXCLUDE_FROM_ALL)
  endif()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tvrcgcv-${PROJECT_VERSION}-windows)
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};tvrcgcv;WindowsProgram;/${_tvrcgcv_folder}"
    "${CMAKE_BINARY_DIR};tvrcgcv;WindowsDocuments;/")
  if(TVRCGCV_WEB_PAGE)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tvrcgcv;WindowsWeb;/web")
  endif()
  if(TVRCGCV_WINDOWS_OTHER_BUILD)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS
      "${TVRCGCV_WINDOWS_OTHER_BUILD};tvrcgcv;WindowsProgram;/${_tvrcgcv_other_folder}")
  endif()
elseif(TVRCGCV_STATIC_PROGRAM)
  include(${CMAKE_CURRENT_LIST_DIR}/StaticPackage.cmake)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${TVRCGCV_RUNTIME_COMPONENT} Development)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TVRCGCV_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tvrcgcv)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)  # libc
  # A cross build (cmake/toolchains/linux-cross.cmake) packages the program
  # alone, for the Debian architecture of its target. dpkg-shlibdeps is
  # told that architecture (DEB_HOST_ARCH, set in cpack's environment by
  # the project configuration file) and the folder of the cross C library,
  # whose shlibs file names the target's libc6.
  if(CMAKE_CROSSCOMPILING AND TVRCGCV_CROSS_TRIPLE)
    execute_process(COMMAND dpkg-architecture -t ${TVRCGCV_CROSS_TRIPLE} -qDEB_HOST_ARCH
      OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    set(CPACK_COMPONENTS_ALL ${TVRCGCV_RUNTIME_COMPONENT})
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${TVRCGCV_CROSS_SYSROOT}/lib)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/CPackCrossConfig.cmake
      "set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})\n")
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackCrossConfig.cmake)
  endif()
  # PNG output loads libspng.so.0 when it is asked for, and CHD files and
  # archives their libraries when the first is opened (src/disc/
  # loaded_library.h), which dpkg-shlibdeps cannot see: the packages that
  # hold those libraries here are recommended.
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS libspng0)
  foreach(_tvrcgcv_soname IN ITEMS ${TVRCGCV_SONAME_ZLIB} ${TVRCGCV_SONAME_LZMA}
          ${TVRCGCV_SONAME_FLAC} ${TVRCGCV_SONAME_ZSTD} ${TVRCGCV_SONAME_ARCHIVE})
    execute_process(COMMAND dpkg-query -S "*/${_tvrcgcv_soname}" OUTPUT_VARIABLE _tvrcgcv_owner
                    ERROR_QUIET RESULT_VARIABLE _tvrcgcv_status)
    if(_tvrcgcv_status EQUAL 0 AND _tvrcgcv_owner MATCHES "^([^:,]+)")
      string(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS ", ${CMAKE_MATCH_1}")
    endif()
  endforeach()
  # A description's first line is the package's synopsis.
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"converts the pictures of the game CD-ROM into BMP files
tvrcgcv extracts the 161 computer-graphics pictures of the game CD-ROM
(152 tiled backgrounds and 9 portraits) and writes them as Windows BMP
files. It reads the disc from a mounted drive, a copy of its files or a
disc image (ISO 9660, or a raw BIN dump with its cue sheet).")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME tvrcgcv-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"CGVw image decoding library of tvrcgcv (static libraries and headers)
The CGVw decoding layer under tvrcgcv: plain 4-, 8- and 15-bit pictures,
tiled pictures with three tile-map layouts and layered composites on a
24-bit canvas, decoded into device-independent bitmaps behind one entry,
CGVwDecode. Static libraries, headers and a CMake package
(find_package(tvrcgcv)).")
endif()

include(CPack)
