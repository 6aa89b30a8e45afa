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

# POSIX: 64-bit file offsets and inode numbers on 32-bit systems too, so
# that stat, lseek and readdir work on disc images over 2 GiB and on file
# systems whose directory positions need 64 bits (ext4 hands those to any
# process that a 64-bit kernel runs as a 64-bit one, e.g. under qemu-user).
# No public header of the libraries uses off_t, so their users need not
# agree. A no-op on 64-bit systems.
if(NOT WIN32)
  target_compile_definitions(tvrcgcv_settings INTERFACE _FILE_OFFSET_BITS=64)
endif()

# WebAssembly (emscripten): C++ exceptions are caught, as everywhere else
# (emscripten's default ends the program at a throw), so that memory that
# cannot be had is a status the library reports, not the end of the module.
if(EMSCRIPTEN)
  target_compile_options(tvrcgcv_settings INTERFACE -fexceptions)
  target_link_options(tvrcgcv_settings INTERFACE -fexceptions)
endif()
