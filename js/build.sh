#!/bin/sh
# Builds the WebAssembly module into dist/ through the project's CMake with
# Emscripten's toolchain (npm run build).
#
#   QUILLMORPH_WASM_BUILD   the build folder (default: build-wasm/ at the
#                           checkout's root)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLMORPH_WASM_BUILD:-$root/build-wasm}
command -v emcmake >/dev/null || {
  echo "emcmake is not installed (Debian: apt-get install emscripten)" >&2
  exit 1
}
# Debian's Emscripten runs its JavaScript optimizer on Debian's node modules.
if [ -d /usr/share/nodejs ]; then
  export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
fi
emcmake cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build "$build" -j2
