#!/usr/bin/env bash
# Builds the core and command-line tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (QM_SANITIZE) in build-asan/ and runs them, leak checking on; any report fails the run.
# scripts/test.sh calls it after the normal suite.
#   scripts/sanitize.sh --gui   also builds and runs the GUI tests, in build-asan-gui/; run it
#                               under xvfb-run. Qt, dbus and Mesa leak on their own side; those
#                               reports are suppressed by tests/sanitizer/lsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-asan
gui=OFF
if [ "${1:-}" = --gui ]; then
  dir=build-asan-gui
  gui=ON
fi
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF -DQM_BUILD_GUI="$gui")
if command -v ninja >/dev/null 2>&1 && [ ! -f "$dir/CMakeCache.txt" ]; then options+=(-G Ninja); fi
# The launcher scripts/build.sh takes too.
source scripts/compiler-launcher.sh
options+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
cmake -S . -B "$dir" "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
if [ "$gui" = ON ]; then
  # Keep Mesa's software driver mapped until the end (see tests/sanitizer/lsan.supp); the
  # sanitizer runtime then no longer comes first among the libraries, which is harmless here.
  driver=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -n 1 || true)
  if [ -n "$driver" ]; then
    export LD_PRELOAD="$driver"
    export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
  fi
fi
ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)"
