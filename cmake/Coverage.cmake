# Line and branch coverage (gcc's gcov, read by gcovr in the coverage
# stage, scripts/stages/12-coverage.sh):
#
#   -DTVRCGCV_COVERAGE=ON   every target instrumented, built without optimisation
#
# The counters are updated without atomics: a test's threads that race
# through the same code may lose counts (never a line's or branch's only
# one in practice), and the tests run three times faster than with
# -fprofile-update=atomic.
#
# TVRCGCV_COVERAGE is defined for the code, so that a forked test child that
# ends with _exit writes its counts first (testing_support::EndChild).
option(TVRCGCV_COVERAGE "Build with gcc's --coverage for line and branch coverage" OFF)

if(TVRCGCV_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "TVRCGCV_COVERAGE is for gcc (gcov)")
  endif()
  target_compile_options(tvrcgcv_settings INTERFACE --coverage -fprofile-update=single -O0)
  target_compile_definitions(tvrcgcv_settings INTERFACE TVRCGCV_COVERAGE)
  target_link_options(tvrcgcv_settings INTERFACE --coverage)
endif()
