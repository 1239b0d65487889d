#!/usr/bin/env bash
# Renders a scene in K shards with GNU parallel on this machine and merges them into one image.
#
#   parallel-render.sh FILE.qmattr|SCENE.qmscene|IMAGE.png K OUT.png [render options...]
#
# The render options are those of quillmere-cli render (--mode, --size, --iterations,
# --streams, --render-seed, ...; a scene takes only --iterations and --updates); for an
# attractor file --seed defaults to 1 so that every shard renders the same scene. Environment: QUILLMERE_CLI (the tool, default quillmere-cli from PATH, else the build
# beside this script), JOBS (shards at once, default the number of processors; each shard then
# runs on one thread), WORKDIR (where the parts go, default a temporary folder removed at the
# end), KEEP=1 to keep the parts and the merged state (ALL.qmrender) in WORKDIR.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 SCENE.qmattr K OUT.png [render options...]" >&2
  exit 2
fi
scene=$1
shards=$2
out=$3
shift 3

here=$(cd "$(dirname "$0")" && pwd)
cli=${QUILLMERE_CLI:-}
if [ -z "$cli" ]; then
  if command -v quillmere-cli >/dev/null; then cli=quillmere-cli
  elif [ -x "$here/../../build/bin/quillmere-cli" ]; then cli=$here/../../build/bin/quillmere-cli
  else echo "$0: quillmere-cli not found (set QUILLMERE_CLI)" >&2; exit 2
  fi
fi
command -v parallel >/dev/null || { echo "$0: GNU parallel is not installed (apt install parallel)" >&2; exit 2; }
case $shards in ''|*[!0-9]*) echo "$0: K must be a whole number" >&2; exit 2;; esac

jobs=${JOBS:-$(nproc)}
# --seed fixes the scene's random start; every shard must use the same one.
options=("$@")
has_seed=no
has_threads=no
for o in "${options[@]}"; do
  case $o in --seed|--seed=*) has_seed=yes;; --threads|--threads=*) has_threads=yes;; esac
done
# Shards at once share the processors: one thread each unless the caller says otherwise.
if [ $has_threads = no ]; then
  threads=$(( $(nproc) / jobs )); [ "$threads" -ge 1 ] || threads=1
  options+=(--threads "$threads")
fi

workdir=${WORKDIR:-}
if [ -z "$workdir" ]; then
  workdir=$(mktemp -d)
  [ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$workdir"' EXIT
fi
mkdir -p "$workdir"

# A scene (.qmscene, or a PNG that carries one) holds its own seeds and takes no --seed.
# Nor does it keep checkpoints: a failed shard of a scene starts over.
checkpoint=()
case $scene in
  *.qmscene|*.png|*.PNG) ;;
  *) [ $has_seed = yes ] || options+=(--seed 1)
     checkpoint=(--checkpoint "$workdir/part-{}.checkpoint") ;;
esac

# One job per shard; a failed shard is retried once, and goes on from its checkpoint.
# -q passes every word as it is (file names with spaces included); the shards' reports go to
# shards.log.
parallel -q --halt now,fail=1 --retries 2 -j "$jobs" \
  "$cli" render "$scene" --shard {}/"$shards" --state "$workdir"/part-{}.qmrender \
  "${checkpoint[@]}" --quiet "${options[@]}" \
  ::: $(seq 0 $((shards - 1))) >"$workdir"/shards.log

merge_state=()
[ "${KEEP:-0}" = 1 ] && merge_state=(--state "$workdir"/ALL.qmrender)
"$cli" merge "$workdir"/part-*.qmrender -o "$out" "${merge_state[@]}"
