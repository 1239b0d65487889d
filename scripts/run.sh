#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
# Until the desktop program exists this runs what there is: the attractor benchmark,
# which iterates every kind and reports iterations per second.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -x build/bin/quillmere ]; then
  exec build/bin/quillmere "$@"
fi
exec build/bench/attractor_bench --benchmark_min_time=0.2 "$@"
