#!/usr/bin/env bash
# Configures build/ (Release unless CMAKE_BUILD_TYPE says otherwise; through the launcher that
# CMAKE_CXX_COMPILER_LAUNCHER names, or else ccache when it is installed) and builds the targets
# given, or everything without arguments. The programs land in build/bin/ with their data files
# beside them.
#   scripts/build.sh quillmere quillmere-cli quillmere_data    (the programs alone)
set -euo pipefail
cd "$(dirname "$0")/.."
args=(-DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}")
if command -v ninja >/dev/null 2>&1 && [ ! -f build/CMakeCache.txt ]; then args+=(-G Ninja); fi
source scripts/compiler-launcher.sh
args+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
cmake -S . -B build "${args[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build --parallel "$(nproc)" "${targets[@]}"
