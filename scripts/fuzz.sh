#!/usr/bin/env bash
# Builds the attractor-file fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) in
# build-fuzz/ and runs it single-process on a scratch copy of the seed corpus, so that the
# inputs it discovers never land in the repository. Arguments go to libFuzzer, for example:
#   scripts/fuzz.sh -runs=5000000            (a number of executions)
#   scripts/fuzz.sh -max_total_time=300      (a time budget in seconds)
# Without arguments it runs for 60 seconds. Crashes are written to build-fuzz/artifacts/;
# replay one with build-fuzz/fuzz/parser_fuzz FILE, and add it to tests/data/fuzz_corpus/
# once it is fixed. Set QM_FUZZ_KEEP=1 to keep the scratch corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FUZZ=ON -DQM_BUILD_TESTS=ON -DQM_BUILD_BENCH=OFF \
    >/dev/null
fi
cmake --build build-fuzz --target parser_fuzz

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qm-fuzz-corpus.XXXXXX")
if [ "${QM_FUZZ_KEEP:-0}" = 1 ]; then
  echo "scratch corpus kept in $scratch" >&2
else
  trap 'rm -rf "$scratch"' EXIT
fi
cp tests/data/fuzz_corpus/* "$scratch"/
mkdir -p build-fuzz/artifacts

args=("$@")
if [ ${#args[@]} -eq 0 ]; then args=(-max_total_time=60); fi
build-fuzz/fuzz/parser_fuzz -max_len=4096 -dict=tests/fuzz/attractor.dict \
  -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 "${args[@]}" "$scratch"
