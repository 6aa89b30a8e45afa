# The libraries that read CHD files and archives (cmake/Chd.cmake,
# cmake/Archives.cmake). A dynamically linked Linux program loads them when
# the first CHD file or archive is opened, not at its start
# (src/disc/loaded_library.h): by the name the dynamic linker knows each
# by, its SONAME, read here from the library the build would have linked.
# TVRCGCV_LOAD_LIBRARIES=OFF links them instead.
include_guard(GLOBAL)
option(TVRCGCV_LOAD_LIBRARIES
       "Load the libraries of CHD files and archives when first needed (dynamically linked Linux)"
       ON)

set(TVRCGCV_LIBRARIES_LOADED OFF)
if(TVRCGCV_LOAD_LIBRARIES AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT TVRCGCV_STATIC_PROGRAM)
  set(TVRCGCV_LIBRARIES_LOADED ON)
endif()

# Sets <out> to the SONAME of the first library of <libraries> (paths)
# whose file name begins with lib<name>.so, or to "" where none has one.
function(tvrcgcv_soname name libraries out)
  set(soname "")
  find_program(_tvrcgcv_objdump NAMES "${CMAKE_OBJDUMP}" objdump)
  foreach(library IN LISTS libraries)
    get_filename_component(file "${library}" NAME)
    if(file MATCHES "^lib${name}\\.so" AND _tvrcgcv_objdump)
      get_filename_component(real "${library}" REALPATH)
      execute_process(COMMAND "${_tvrcgcv_objdump}" -p "${real}" OUTPUT_VARIABLE dump
                      ERROR_QUIET RESULT_VARIABLE status)
      if(status EQUAL 0 AND dump MATCHES "SONAME +([^ \n]+)")
        set(soname "${CMAKE_MATCH_1}")
        break()
      endif()
    endif()
  endforeach()
  set(${out} "${soname}" PARENT_SCOPE)
endfunction()
