# Sanitizer and fuzzer instrumentation. Both go onto the settings target, so
# every target of the project gets them and nothing else does.
#
#   -DTVRCGCV_SANITIZE=address,undefined   every target, tests included
#   -DTVRCGCV_BUILD_FUZZERS=ON             the libFuzzer harnesses (clang only)
#
# A sanitizer report ends the process (no recovery), so a test or a harness
# that trips one fails.
set(TVRCGCV_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
option(TVRCGCV_BUILD_FUZZERS "Build the libFuzzer harnesses under fuzz/ (clang only)" OFF)

set(_tvrcgcv_sanitizers "${TVRCGCV_SANITIZE}")
if(TVRCGCV_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TVRCGCV_BUILD_FUZZERS needs clang, whose libFuzzer the harnesses use")
  endif()
  if(_tvrcgcv_sanitizers STREQUAL "")
    set(_tvrcgcv_sanitizers "address,undefined")
  endif()
  # Coverage for the fuzzer in every target; the harnesses link libFuzzer.
  target_compile_options(tvrcgcv_settings INTERFACE -fsanitize=fuzzer-no-link)
endif()

if(NOT _tvrcgcv_sanitizers STREQUAL "")
  if(MSVC)
    message(FATAL_ERROR "TVRCGCV_SANITIZE is for gcc and clang")
  endif()
  target_compile_options(tvrcgcv_settings INTERFACE
    -fsanitize=${_tvrcgcv_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tvrcgcv_settings INTERFACE -fsanitize=${_tvrcgcv_sanitizers})
endif()
