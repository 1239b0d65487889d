#!/bin/bash
# The peer comparison line: the speed of one quillmere-cli render per core against the fractal
# flame renderer flam3 (Debian's flam3-utils package, flam3-render, one thread), in the same
# run on the same machine. Both draw 20 million samples at 640x480 and colour every one: here
# the Lorenz example in Lumière (and, for reference, Gaz and Plasma), there the first flame of
# the package's own test.flam3 (or a minimal one of three maps when it is missing), whose
# quality (samples per pixel) is set so that quality * 640 * 480 = 20 million, supersample 1.
#
# The commands run in turn (quillmere Lumière, flam3, quillmere Gaz, quillmere Plasma), RUNS
# times, so that a drift of the machine's speed touches every one alike; each figure is the
# median of its runs, whole process, wall clock (processor time beside it). Samples per second
# are 20 million over the wall time; the ratio is Lumière's over flam3's, by wall clock and by
# processor time.
#
# Usage: scripts/bench/peer-comparison.sh [QUILLMERE_CLI] [RUNS]
#   QUILLMERE_CLI  default build/bin/quillmere-cli (from the repository's root)
#   RUNS           default 5
# Needs flam3-render (apt-get install flam3-utils) and GNU time (/usr/bin/time).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cli=${1:-$root/build/bin/quillmere-cli}
runs=${2:-5}
samples=20000000
width=640
height=480
attractor=$root/data/examples/lorenz.qmattr

for tool in "$cli" /usr/bin/time; do
    [[ -x $tool ]] || { echo "peer-comparison: $tool is missing" >&2; exit 2; }
done
command -v flam3-render >/dev/null ||
    { echo "peer-comparison: flam3-render is missing (apt-get install flam3-utils)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The flame: quality in samples per output pixel, printed with the C locale's decimal point.
quality=$(LC_ALL=C awk -v n=$samples -v w=$width -v h=$height 'BEGIN { printf "%.9f", n / (w * h) }')
sample=/usr/share/flam3/test.flam3
{
    echo "<flames>"
    if [[ -r $sample ]] && grep -q "<flame " "$sample"; then
        # The first flame, its size, quality and supersampling set; other attributes kept.
        awk '/<flame /, /<\/flame>/ { print } /<\/flame>/ { exit }' "$sample" |
            sed -E -e 's/ (size|quality|supersample|oversample)="[^"]*"//g' \
                -e "s/<flame /<flame size=\"$width $height\" quality=\"$quality\" supersample=\"1\" /"
    else
        cat <<EOF
<flame name="peer" size="$width $height" center="0.5 0.5" scale="400" quality="$quality" supersample="1" filter="0.5" brightness="4" gamma="4" vibrancy="1" background="0 0 0" palette="0">
 <xform weight="1" color="0" linear="1" coefs="0.5 0 0 0.5 0 0"/>
 <xform weight="1" color="0.5" linear="1" coefs="0.5 0 0 0.5 0.5 0"/>
 <xform weight="1" color="1" linear="1" coefs="0.5 0 0 0.5 0 0.5"/>
</flame>
EOF
    fi
    echo "</flames>"
} >"$work/peer.flam3"

# One timed run: appends "wall cpu" to $work/NAME.times.
timed() {
    local name=$1
    shift
    /usr/bin/time -f "%e %U %S" -o "$work/one.time" "$@" >/dev/null 2>&1 ||
        { echo "peer-comparison: $name failed: $*" >&2; exit 1; }
    LC_ALL=C awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$work/one.time" >>"$work/$name.times"
}

quillmere() {
    local mode=$1
    timed "$2" "$cli" render "$attractor" --mode "$mode" --threads 1 --streams 1 \
        --size ${width}x${height} --iterations $samples -o "$work/quillmere.png"
}

peer() {
    timed flam3 env nthreads=1 out="$work/flam3.png" flam3-render <"$work/peer.flam3"
}

# A warm-up of each, not counted.
quillmere 2 warmup
peer
rm -f "$work"/*.times
for ((i = 1; i <= runs; i++)); do
    quillmere 2 lumiere
    peer
    quillmere 0 gaz
    quillmere 3 plasma
done

median() {  # column $2 of file $1
    sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "runs: $runs (interleaved; medians; whole process, one thread)"
echo "samples: $samples at ${width}x${height}"
for name in lumiere flam3 gaz plasma; do
    wall=$(median "$work/$name.times" 1)
    cpu=$(median "$work/$name.times" 2)
    LC_ALL=C awk -v n="$name" -v w="$wall" -v c="$cpu" -v s=$samples \
        'BEGIN { printf "%-8s wall %6.3f s  cpu %6.3f s  %7.2f M samples/s\n", n, w, c, s / w / 1e6 }'
done
# The ratio by wall clock, and by processor time, which a busy machine disturbs less.
for column in 1 2; do
    lumiere=$(median "$work/lumiere.times" $column)
    flam3=$(median "$work/flam3.times" $column)
    LC_ALL=C awk -v a="$lumiere" -v b="$flam3" -v by=$([[ $column == 1 ]] && echo wall || echo cpu) \
        'BEGIN { printf "ratio (%s): Lumiere / flam3 samples per second = %.3f\n", by, b / a }'
done
