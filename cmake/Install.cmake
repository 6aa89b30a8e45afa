# Installs the program, the decoding libraries with their headers, and a CMake
# package so that other projects can use find_package(tvrcgcv).
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
