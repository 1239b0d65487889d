#!/usr/bin/env bash
# The Slurm scripts end to end: a 4-task array renders the shards, the merge job waits for it
# (afterok) and writes the image. Needs a running Slurm (slurmctld, slurmd, munged) whose
# nodes see this build's folders; runs only with QUILLMERE_SLURM_TEST=1, skipped (77) otherwise.
#   slurm_shards_test.sh QUILLMERE_CLI SCRIPTS_DIR EXAMPLES_DIR
set -euo pipefail
cli=$1
scripts=$2
examples=$3
if [ "${QUILLMERE_SLURM_TEST:-0}" != 1 ] || ! command -v sbatch >/dev/null; then
  echo "skipped: set QUILLMERE_SLURM_TEST=1 with a running Slurm"
  exit 77
fi
work=$(mktemp -d "${QUILLMERE_SLURM_WORKDIR:-$HOME}/qm-slurm-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
options=(--size 160x120 --iterations 200000 --seed 3 --mode Solide)
export QUILLMERE_CLI=$cli
array=$(sbatch --parsable --array=0-3 --cpus-per-task=1 --mem=200M \
  "$scripts/slurm-render.sbatch" "$examples/icon.qmattr" "$work/parts" "${options[@]}")
merge=$(sbatch --parsable --dependency=afterok:"$array" --mem=300M \
  "$scripts/slurm-merge.sbatch" "$work/parts" "$work/merged.bmp")
# Waits for the merge job to leave the queue (10 minutes at most).
for _ in $(seq 600); do
  squeue -h -j "$merge" 2>/dev/null | grep -q . || break
  sleep 1
done
"$cli" render "$examples/icon.qmattr" "${options[@]}" -o "$work/whole.bmp" --quiet >/dev/null
"$cli" merge "$work"/parts/part-*.qmrender -o "$work/local.bmp" >/dev/null
test -s "$work/merged.bmp" || { echo "the merge job wrote no image"; exit 1; }
cmp "$work/merged.bmp" "$work/local.bmp"
test -s "$work/parts/ALL.qmrender"
echo "slurm array and merge: ok"
