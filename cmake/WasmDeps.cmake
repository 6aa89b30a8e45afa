# The C libraries of the web page's module, as scripts/wasm-deps.sh builds
# them for WebAssembly into a prefix (default: build-deps/wasm32-emscripten
# in the source tree):
#   tvrcgcv_deps::spng  libspng and zlib
# Included by the top-level CMakeLists.txt in an emscripten build
# (emcmake cmake ...), before the libraries that use them.
include_guard(GLOBAL)

if(NOT EMSCRIPTEN)
  message(FATAL_ERROR "WasmDeps.cmake is for the emscripten build (emcmake cmake)")
endif()
get_filename_component(_tvrcgcv_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TVRCGCV_WASM_DEPS_PREFIX "${_tvrcgcv_root}/build-deps/wasm32-emscripten"
    CACHE PATH "Prefix of scripts/wasm-deps.sh's build")
if(NOT EXISTS "${TVRCGCV_WASM_DEPS_PREFIX}/share/tvrcgcv-wasm-deps/stamp")
  message(FATAL_ERROR "No WebAssembly libraries in ${TVRCGCV_WASM_DEPS_PREFIX}: run\n"
                      "  scripts/wasm-deps.sh ${TVRCGCV_WASM_DEPS_PREFIX}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/StaticDeps.cmake)
tvrcgcv_static_deps("${TVRCGCV_WASM_DEPS_PREFIX}")
