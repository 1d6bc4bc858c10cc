#!/usr/bin/env bash
# CI for the npm package and the page: installs what is missing, builds the
# WebAssembly module, runs the package's tests against the native build and
# the page's test in Chromium, and prints how long each step took.
#
#   js/ci.sh [NATIVE_BUILD]        (default: build/, a native CMake build)
#
# The native build gives the bytes to compare with: its Quillmorph,
# make_chart and upscale_raw are built here if they are not already.  The
# module is built in build-wasm/ (QUILLMORPH_WASM_BUILD to change it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
native=$(cd "${1:-build}" && pwd)
export QUILLMORPH_WASM_BUILD=${QUILLMORPH_WASM_BUILD:-$root/build-wasm}

timings=()
step_start=0
step() {  # step NAME: ends the step before, if any, and starts NAME
  local now
  now=$(date +%s.%N)
  if [ -n "${step_name:-}" ]; then
    timings+=("$(awk -v a="$step_start" -v b="$now" -v n="$step_name" 'BEGIN { printf "%7.1f s  %s", b - a, n }')")
  fi
  step_name=${1:-}
  step_start=$now
  [ -n "$step_name" ] && echo "== $step_name"
  return 0
}

step "Debian packages (emscripten, chromium)"
missing=()
command -v emcmake >/dev/null || missing+=(emscripten)
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v npm >/dev/null || { echo "npm is missing: Node 18 or newer with its npm is needed" >&2; exit 1; }
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
else
  echo "installed already"
fi

step "npm ci (puppeteer-core, no browser download)"
PUPPETEER_SKIP_DOWNLOAD=1 npm --prefix js ci --no-audit --no-fund

step "Native programs to compare with ($native)"
cmake --build "$native" -j2 --target Quillmorph make_chart upscale_raw

step "WebAssembly module"
# Emscripten's compilers are scripts that a compiler cache may not know.
env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER npm --prefix js run build
# Results are defined to the bit: every object of the module is compiled
# without contraction and without fast math.
commands=$QUILLMORPH_WASM_BUILD/compile_commands.json
total=$(grep -c '"command"' "$commands")
bad=$(grep '"command"' "$commands" | grep -v -- '-ffp-contract=off' | grep -c . || true)
fast=$(grep '"command"' "$commands" | grep -cE -- '-ffast-math|-Ofast|-funsafe-math|-mrelaxed-simd' || true)
echo "$total compile commands: $bad without -ffp-contract=off, $fast with fast math"
[ "$bad" -eq 0 ] && [ "$fast" -eq 0 ]
ls -lR js/dist

step "Package tests (node:test)"
QUILLMORPH_NATIVE_BUILD=$native npm --prefix js test

step "The documentation's JavaScript examples"
/usr/bin/python3 docs/run_examples.py --language js README.md docs/*.md

step "Page test (Chromium)"
QUILLMORPH_NATIVE_BUILD=$native npm --prefix js run test:browser
echo "screenshot: $native/web-page.png"

step
echo "== Times"
printf '%s\n' "${timings[@]}"
