# tvrcgcv_add_library(<subsystem> <sources>...)
#
# One static library of a subsystem: target tvrcgcv_<subsystem>, alias and
# exported name tvrcgcv::<subsystem>, public headers in the subsystem's
# include/ folder (installed under include/tvrcgcv), the project's compile
# settings applied privately.
function(tvrcgcv_add_library subsystem)
  set(target tvrcgcv_${subsystem})
  add_library(${target} STATIC ${ARGN})
  add_library(tvrcgcv::${subsystem} ALIAS ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv>
  )
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:tvrcgcv::settings>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${subsystem} OUTPUT_NAME ${target})
endfunction()
