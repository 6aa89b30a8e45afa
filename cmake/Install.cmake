# Installs the program and, for other programs, the decoding libraries with
# their public headers (only those: the internal/ folders stay behind), a
# CMake package and pkg-config files. The disc-image library (tvrcgcv::disc,
# also known by its older name tvrcgcv::discimage, which remains a component
# that is always found) needs nothing beyond the others:
#   find_package(tvrcgcv REQUIRED)        cgvw, catalog, platform, disc
#   pkg-config --cflags --libs tvrcgcv  (or tvrcgcv-discimage)
#   pkg-config --cflags --libs tvrcgcv-c         from C (cgvw/cgvw_c.h, cgvw/decode_c.h)
#   pkg-config --cflags --libs tvrcgcv-discimage-c   and disc images (cgvw/disc_image_c.h)
#
# Two install components, which become the two Debian packages
# (cmake/Packaging.cmake):
#   Runtime      the program, its manual page and documentation   (tvrcgcv)
#   Development  libraries, headers, CMake package, .pc files     (tvrcgcv-dev)
# An install rule without a COMPONENT belongs to Development (the project sets
# CMAKE_INSTALL_DEFAULT_COMPONENT_NAME before its subdirectories), so new
# libraries and headers need nothing here; rules for the program's files
# name TVRCGCV_RUNTIME_COMPONENT.
include(CMakePackageConfigHelpers)
set(TVRCGCV_RUNTIME_COMPONENT Runtime)

install(TARGETS tvrcgcv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT ${TVRCGCV_RUNTIME_COMPONENT})
install(TARGETS tvrcgcv_platform tvrcgcv_catalog tvrcgcv_cgvw tvrcgcv_disc tvrcgcv_discimage_c
  EXPORT tvrcgcvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv
)
install(DIRECTORY
  ${PROJECT_SOURCE_DIR}/src/platform/include/
  ${PROJECT_SOURCE_DIR}/src/catalog/include/
  ${PROJECT_SOURCE_DIR}/src/cgvw/include/
  ${PROJECT_SOURCE_DIR}/src/disc/include/
  ${PROJECT_SOURCE_DIR}/src/discimage_c/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv
)
install(EXPORT tvrcgcvTargets
  NAMESPACE tvrcgcv::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tvrcgcv
)
# The .pc files find the prefix from where they lie, so the tree can move.
file(RELATIVE_PATH TVRCGCV_PC_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
     "${CMAKE_INSTALL_PREFIX}")
set(TVRCGCV_PC_LIBS "-ltvrcgcv_catalog -ltvrcgcv_cgvw -ltvrcgcv_platform")
# The libraries are static and C++ inside: a program linked by the C
# compiler's driver needs the C++ runtime that the C++ driver adds by itself
# (on Debian -lstdc++ -lm): what the C++ compiler links beyond the C one.
set(TVRCGCV_CXX_RUNTIME ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_ITEM TVRCGCV_CXX_RUNTIME ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_DUPLICATES TVRCGCV_CXX_RUNTIME)
list(TRANSFORM TVRCGCV_CXX_RUNTIME PREPEND "-l" OUTPUT_VARIABLE _tvrcgcv_runtime)
list(JOIN _tvrcgcv_runtime " " TVRCGCV_PC_RUNTIME)
# Two modules, as one Cflags line cannot serve both languages: tvrcgcv for
# C++ (-std=c++20, which the C compilers refuse or warn about), tvrcgcv-c for
# C (cgvw/cgvw_c.h), whose Libs name the C++ runtime, always needed there.
foreach(module tvrcgcv tvrcgcv-c tvrcgcv-discimage tvrcgcv-discimage-c)
  configure_file(cmake/${module}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${module}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${module}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

configure_package_config_file(cmake/tvrcgcvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcvConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tvrcgcv
)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tvrcgcvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion
)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcvConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcvConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tvrcgcv
)

# The manual page and the documentation of a Unix install. Debian wants
# both packages to carry a copyright file and a changelog in their own
# documentation folder; gzip -9n compresses without a time stamp, so the
# packages come out the same on every build. The changelog is signed by the
# packages' maintainer. They are made when the build is configured (again
# when their sources change), so that an install of either component works
# whatever was built.
set(TVRCGCV_PACKAGE_MAINTAINER "tvrcgcv developers <tvrcgcv@example.org>" CACHE STRING
  "Maintainer of the release packages: name <address>")
if(NOT WIN32)
  set(_tvrcgcv_docs ${CMAKE_CURRENT_BINARY_DIR}/docs)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE TVRCGCV_LICENSE_TEXT)
  configure_file(packaging/debian/copyright.in ${_tvrcgcv_docs}/copyright @ONLY)
  configure_file(packaging/debian/changelog.in ${_tvrcgcv_docs}/changelog @ONLY)
  configure_file(docs/tvrcgcv.1 ${_tvrcgcv_docs}/tvrcgcv.1 COPYONLY)
  find_program(TVRCGCV_GZIP gzip REQUIRED)
  foreach(name tvrcgcv.1 changelog)
    execute_process(COMMAND ${TVRCGCV_GZIP} -9nkf ${_tvrcgcv_docs}/${name}
      RESULT_VARIABLE _tvrcgcv_gzip_result)
    if(NOT _tvrcgcv_gzip_result EQUAL 0)
      message(FATAL_ERROR "gzip ${_tvrcgcv_docs}/${name} failed: ${_tvrcgcv_gzip_result}")
    endif()
  endforeach()

  install(FILES ${_tvrcgcv_docs}/tvrcgcv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${TVRCGCV_RUNTIME_COMPONENT})
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrcgcv
    COMPONENT ${TVRCGCV_RUNTIME_COMPONENT})
  # Debian's files; the statically linked program's archive has its own
  # (cmake/StaticPackage.cmake).
  if(NOT TVRCGCV_STATIC_PROGRAM)
    install(FILES ${_tvrcgcv_docs}/copyright ${_tvrcgcv_docs}/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrcgcv
      COMPONENT ${TVRCGCV_RUNTIME_COMPONENT})
  endif()
  install(FILES ${_tvrcgcv_docs}/copyright ${_tvrcgcv_docs}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tvrcgcv-dev)
endif()
