#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
# Until the desktop program exists this runs what there is: the command-line tool searches
# for a Lorenz attractor and renders it to build/demo/lorenz.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -x build/bin/quillmere ]; then
  exec build/bin/quillmere "$@"
fi
rm -rf build/demo
build/bin/quillmere-cli search --kind lorenz --seed 1 --out build/demo
build/bin/quillmere-cli render build/demo/0001.qmattr -o build/demo/lorenz.png --mode Lumière --seed 1 "$@"
echo "The image is build/demo/lorenz.png; build/bin/quillmere-cli --help tells what else the tool does."
