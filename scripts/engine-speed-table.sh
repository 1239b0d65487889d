#!/bin/sh
# The parallel render's speed table: millions of iterations per second (medians of
# interleaved repetitions) for 1 and 2 threads, 1 and 16 streams, every mode, Lorenz and a
# four-map IFS at 640x480 and 2048x2048, next to two single-thread renders side by side;
# then, for 16 streams on 2 threads, the time per iteration at work in each phase, the idle
# share, the share of the wall time outside the parallel work, the Amdahl speed-up it allows and
# the memory each added thread costs.
#
#   scripts/engine-speed-table.sh [REPETITIONS] [FILTER]
# REPETITIONS defaults to 5; FILTER is a regular expression on the benchmark names
# BM_Engine/KIND/MODE/SIDE/STREAMS/THREADS and BM_TwoAlone/KIND/MODE/SIDE (KIND 0 Lorenz,
# 1 IFS; SIDE 640 or 2048), e.g. '/640/' for the small images only.
# Build first (scripts/build.sh or cmake --build build).
set -eu
cd "$(dirname "$0")/.."
bench=build/bench/engine_bench
[ -x "$bench" ] || { echo "build $bench first" >&2; exit 2; }
repetitions=${1:-5}
filter=${2:-.}

echo "# $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg), $repetitions repetitions"
"$bench" --benchmark_enable_random_interleaving=true --benchmark_repetitions="$repetitions" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv --benchmark_filter="$filter" 2>/dev/null |
    awk -F, '
    function unq(s) { gsub(/"/, "", s); return s }
    NR == 1 { for (i = 1; i <= NF; ++i) col[unq($i)] = i; next }
    {
        name = unq($1)
        if (name !~ /_median$/) next
        label = unq($col["label"])
        split(name, part, "/")
        ips = $col["items_per_second"] / 1e6
        if (part[1] == "BM_TwoAlone") { pair[label] = ips }
        else {
            key = "S" part[5] "T" part[6]
            v[label, key] = ips
            cpu[label, key] = $col["cpu_ns"]
            if (key == "S16T2") {
                outside[label] = $col["outside_fraction"]; a8[label] = $col["amdahl_8"]
                a32[label] = $col["amdahl_32"]; a64[label] = $col["amdahl_64"]
                sc[label] = $col["stream_ns"]; bc[label] = $col["band_ns"]; idle[label] = $col["idle_fraction"]
                mib[label] = $col["thread_mib"]
            }
            if (!(label in seen)) { seen[label] = 1; order[++n] = label }
        }
    }
    END {
        printf "%-26s %8s %8s %8s %8s %8s %8s %8s\n", "case (M it/s)", "S1T1", "S1T2", "S16T1", "S16T2", "2xT1", "T2/2xT1", "S16/S1"
        for (i = 1; i <= n; ++i) {
            l = order[i]
            printf "%-26s %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f\n", l, v[l, "S1T1"], v[l, "S1T2"], v[l, "S16T1"], \
                v[l, "S16T2"], pair[l], (pair[l] > 0 ? v[l, "S16T2"] / pair[l] : 0), \
                (v[l, "S1T1"] > 0 ? v[l, "S16T1"] / v[l, "S1T1"] : 0)
        }
        # Processor time per iteration, all threads together: what the wall time would be on
        # idle processors, without waits; cpu(T=1) / cpu(T=2) is the share of two lone
        # single-thread renders that two threads can reach at best.
        printf "\n%-26s %10s %10s %10s %10s\n", "processor ns/iteration", "S1T1", "S16T1", "S16T2", "T1/T2"
        for (i = 1; i <= n; ++i) {
            l = order[i]
            printf "%-26s %10.2f %10.2f %10.2f %10.2f\n", l, cpu[l, "S1T1"], cpu[l, "S16T1"], cpu[l, "S16T2"], \
                (cpu[l, "S16T2"] > 0 ? cpu[l, "S16T1"] / cpu[l, "S16T2"] : 0)
        }
        printf "\n%-26s %10s %10s %10s %10s %8s %8s %8s %8s\n", "S16T2", "stream ns", "band ns", "idle", "outside", "A(8)", "A(32)", "A(64)", "MiB/thr"
        for (i = 1; i <= n; ++i) {
            l = order[i]
            printf "%-26s %10.2f %10.2f %10.5f %10.5f %8.2f %8.2f %8.2f %8.2f\n", l, sc[l], bc[l], idle[l], outside[l], a8[l], a32[l], a64[l], mib[l]
        }
    }'
