#!/usr/bin/env bash
# Installs what is missing, builds everything (what scripts/run.sh built is reused), and runs
# every test under a virtual X display, so that the GUI tests run headless exactly as they do
# on a desktop. The tests include the packaging checks: validators, an install into a
# temporary prefix, the MIME types, and lintian on the Debian package. Then the core and
# command-line tests run once more with the sanitizers (scripts/sanitize.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir build --output-on-failure --parallel "$(nproc)"
# The core and the tool again, under AddressSanitizer and UndefinedBehaviorSanitizer, leak
# checking on (build-asan/).
bash scripts/sanitize.sh
