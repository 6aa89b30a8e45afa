# Installs the program and, for other programs, the decoding libraries with
# their public headers (only those: the internal/ folders stay behind), a
# CMake package and pkg-config files. The disc-image part (tvrcgcv::discimage,
# which needs libcdio) is a component of its own:
#   find_package(tvrcgcv REQUIRED)                        cgvw, catalog, platform
#   find_package(tvrcgcv REQUIRED COMPONENTS discimage)   and disc images
#   pkg-config --cflags --libs tvrcgcv  (or tvrcgcv-discimage)
include(CMakePackageConfigHelpers)

install(TARGETS tvrcgcv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tvrcgcv_platform tvrcgcv_catalog tvrcgcv_cgvw
  EXPORT tvrcgcvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv
)
install(DIRECTORY
  ${PROJECT_SOURCE_DIR}/src/platform/include/
  ${PROJECT_SOURCE_DIR}/src/catalog/include/
  ${PROJECT_SOURCE_DIR}/src/cgvw/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv
)
install(EXPORT tvrcgcvTargets
  NAMESPACE tvrcgcv::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tvrcgcv
)
# The .pc files find the prefix from where they lie, so the tree can move.
file(RELATIVE_PATH TVRCGCV_PC_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
     "${CMAKE_INSTALL_PREFIX}")
set(TVRCGCV_PC_LIBS "-ltvrcgcv_cgvw -ltvrcgcv_catalog -ltvrcgcv_platform")
configure_file(cmake/tvrcgcv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcv.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcv.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET tvrcgcv_discimage)
  install(TARGETS tvrcgcv_discimage
    EXPORT tvrcgcvDiscImageTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv
  )
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/cgvw/disc_image/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv)
  install(EXPORT tvrcgcvDiscImageTargets
    NAMESPACE tvrcgcv::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tvrcgcv
  )
  configure_file(cmake/tvrcgcv-discimage.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcv-discimage.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tvrcgcv-discimage.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

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
