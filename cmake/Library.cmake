# tvrcgcv_add_library(<subsystem> <sources>...)
#
# One static library of a subsystem: target tvrcgcv_<subsystem>, alias and
# exported name tvrcgcv::<subsystem>, the project's compile settings applied
# privately. Public headers live in the subsystem's include/ folder and are
# installed under include/tvrcgcv; headers in its internal/ folder (if it has
# one) are its own: private to the library, not installed, and reached from
# elsewhere only by the tests, fuzzers and benchmarks (tvrcgcv_internals).
function(tvrcgcv_add_library subsystem)
  set(target tvrcgcv_${subsystem})
  add_library(${target} STATIC ${ARGN})
  add_library(tvrcgcv::${subsystem} ALIAS ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tvrcgcv>
  )
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/internal)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/internal)
    set_property(GLOBAL APPEND PROPERTY TVRCGCV_INTERNAL_DIRS ${CMAKE_CURRENT_SOURCE_DIR}/internal)
  endif()
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:tvrcgcv::settings>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${subsystem} OUTPUT_NAME ${target})
endfunction()

# tvrcgcv_internals: the internal/ folders of every library, for the tests,
# fuzzers and benchmarks that look inside (never for a library or the
# program). Called once all libraries are added.
function(tvrcgcv_add_internals_target)
  get_property(dirs GLOBAL PROPERTY TVRCGCV_INTERNAL_DIRS)
  add_library(tvrcgcv_internals INTERFACE)
  target_include_directories(tvrcgcv_internals INTERFACE ${dirs})
endfunction()
