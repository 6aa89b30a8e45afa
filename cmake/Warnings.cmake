# One interface target carries the project's compile settings, so that every
# target opts in by linking it instead of through global flags.
add_library(tvrcgcv_settings INTERFACE)
add_library(tvrcgcv::settings ALIAS tvrcgcv_settings)
target_compile_features(tvrcgcv_settings INTERFACE cxx_std_20)
if(MSVC)
  target_compile_options(tvrcgcv_settings INTERFACE /W4)
else()
  target_compile_options(tvrcgcv_settings INTERFACE -Wall -Wextra -Wpedantic)
endif()

# mingw-w64: programs carry the C and C++ runtimes inside them (no
# libstdc++ or libgcc DLL to ship), so tvrcgcv.exe runs on a bare Windows.
if(MINGW)
  target_link_options(tvrcgcv_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()
