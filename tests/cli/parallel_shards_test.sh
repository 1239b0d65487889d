#!/usr/bin/env bash
# A scene rendered in 4 shards through GNU parallel (2 at a time) and merged, in every mode:
# the image must keep within the bounds the README states against the render on one machine.
#   parallel_shards_test.sh QUILLMERE_CLI SCRIPTS_DIR EXAMPLES_DIR
set -euo pipefail
cli=$1
scripts=$2
examples=$3
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
options=(--size 160x120 --iterations 200000 --seed 3)
# mode  largest difference  mean difference (README, "Large renders")
bounds="Gaz 8 0.05
Liquide 255 25
Lumière 8 0.05
Plasma 255 25
Solide 255 30"
status=0
while read -r mode most mean; do
  "$cli" render "$examples/icon.qmattr" --mode "$mode" "${options[@]}" -o "$work/whole.bmp" --quiet >/dev/null
  QUILLMERE_CLI=$cli JOBS=2 WORKDIR=$work/$mode KEEP=1 \
    bash "$scripts/parallel-render.sh" "$examples/icon.qmattr" 4 "$work/merged.bmp" \
    --mode "$mode" "${options[@]}" >/dev/null
  # The same parts merged in another order give the same bytes.
  "$cli" merge $(ls "$work/$mode"/part-*.qmrender | sort -r) -o "$work/again.bmp" >/dev/null
  cmp -s "$work/merged.bmp" "$work/again.bmp" || { echo "$mode: merge depends on the order"; status=1; }
  python3 - "$work/whole.bmp" "$work/merged.bmp" "$mode" "$most" "$mean" <<'PY' || status=1
import sys
a = open(sys.argv[1], 'rb').read()[54:]
b = open(sys.argv[2], 'rb').read()[54:]
assert len(a) == len(b)
d = [abs(x - y) for x, y in zip(a, b)]
most, mean = max(d), sum(d) / len(d)
print(f"{sys.argv[3]}: max {most} mean {mean:.4f}")
sys.exit(0 if most <= int(sys.argv[4]) and mean <= float(sys.argv[5]) else 1)
PY
done <<<"$bounds"
# A scene (here the one a PNG carries) splits the same way; its parts need no --seed.
"$cli" render "$examples/ifs.qmattr" --mode Gaz "${options[@]}" -o "$work/scene.png" --quiet >/dev/null
"$cli" render "$work/scene.png" -o "$work/whole.bmp" --quiet >/dev/null
QUILLMERE_CLI=$cli JOBS=2 WORKDIR=$work/scene \
  bash "$scripts/parallel-render.sh" "$work/scene.png" 4 "$work/merged.bmp" >/dev/null
python3 - "$work/whole.bmp" "$work/merged.bmp" <<'PY' || status=1
import sys
a = open(sys.argv[1], 'rb').read()[54:]
b = open(sys.argv[2], 'rb').read()[54:]
d = [abs(x - y) for x, y in zip(a, b)]
print(f"scene Gaz: max {max(d)} mean {sum(d) / len(d):.4f}")
sys.exit(0 if len(a) == len(b) and max(d) <= 8 and sum(d) / len(d) <= 0.05 else 1)
PY
exit $status
