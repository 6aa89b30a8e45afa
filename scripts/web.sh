#!/usr/bin/env bash
# Builds the web page (web/) and serves it on 127.0.0.1, printing its
# address: the whole conversion in a browser, nothing to install.
#
#   scripts/web.sh              build, then serve on a free port until Ctrl-C
#   scripts/web.sh --port 8000  serve on that port
#   scripts/web.sh --build      only build; prints the page's folder
#
# The page is build-web/page: static files that any web server can serve
# as they are (index.html, app.js, worker.js, worker.wasm, sw.js,
# manifest.json and its icons, THIRD-PARTY.txt).
# Its C libraries (libspng, zlib; liblzma, libFLAC, libzstd and libarchive
# for CHD files and archives) are built for WebAssembly from Debian's
# sources by scripts/wasm-deps.sh into
# ${TVRCGCV_WASM_DEPS_DIR:-build-deps}/wasm32-emscripten, once.
#
# Needs the packages of the build (.ci/packages-build) and emscripten,
# nodejs, python3, xz-utils and patch; run as root it installs those that
# are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build_only=false
port=0
while (($#)); do
  case "$1" in
    --build) build_only=true ;;
    --port)
      [[ ${2:-} =~ ^[0-9]+$ ]] || { echo "usage: scripts/web.sh [--build | --port N]" >&2 && exit 2; }
      port=$2
      shift
      ;;
    *)
      echo "usage: scripts/web.sh [--build | --port N]" >&2
      exit 2
      ;;
  esac
  shift
done

packages=$(mktemp)
trap 'rm -f "$packages"' EXIT
printf '%s\n' emscripten nodejs python3 xz-utils patch >"$packages"
scripts/lib/ensure-packages.sh .ci/packages-build "$packages"

# Debian's emscripten runs its JavaScript tools with the node on PATH, which
# finds Debian's acorn here.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
deps=$root/${TVRCGCV_WASM_DEPS_DIR:-build-deps}/wasm32-emscripten
scripts/wasm-deps.sh "$deps"
mkdir -p build-web
log=build-web/build.log
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DTVRCGCV_BUILD_TESTS=OFF -DTVRCGCV_BUILD_TOOLS=OFF -DTVRCGCV_BUILD_BENCHMARKS=OFF \
  -DTVRCGCV_WASM_DEPS_PREFIX="$deps" >"$log" 2>&1 || { cat "$log" >&2 && exit 1; }
cmake --build build-web -j"$(nproc)" --target tvrcgcv_page >>"$log" 2>&1 ||
  { tail -40 "$log" >&2 && exit 1; }
page=$root/build-web/page

if $build_only; then
  echo "$page"
  exit 0
fi
echo "Serving the page on 127.0.0.1 (Ctrl-C stops it)."
exec python3 -u - "$page" "$port" <<'SERVE'
import http.server, sys

page, port = sys.argv[1], int(sys.argv[2])


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript"}

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=page, **kwargs)


with http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler) as server:
    print(f"The page: http://127.0.0.1:{server.server_address[1]}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
SERVE
