#!/usr/bin/env bash
# Configures (Release unless CMAKE_BUILD_TYPE says otherwise) and builds everything into build/.
# The programs land in build/bin/ with their data files beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=()
if command -v ninja >/dev/null 2>&1 && [ ! -f build/CMakeCache.txt ]; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" >/dev/null
cmake --build build --parallel "$(nproc)"
