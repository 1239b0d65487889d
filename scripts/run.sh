#!/usr/bin/env bash
# Installs what is missing, builds the two programs and their data (not the tests and
# benchmarks: scripts/test.sh builds those), and starts the desktop program (arguments are
# passed on: attractor files to open). Without a display it says so and renders a
# demonstration image with the command-line tool instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh quillmere quillmere-cli quillmere_data
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/quillmere "$@"
fi
echo "No display: the desktop program needs one (try: xvfb-run bash scripts/run.sh)." >&2
echo "Rendering a demonstration with the command-line tool instead." >&2
rm -rf build/demo
build/bin/quillmere-cli search --kind lorenz --seed 1 --out build/demo
build/bin/quillmere-cli render build/demo/0001.qmattr -o build/demo/lorenz.png --mode Lumière --seed 1
echo "The image is build/demo/lorenz.png; build/bin/quillmere-cli --help tells what else the tool does."
