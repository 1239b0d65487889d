#!/usr/bin/env bash
# Builds the Debian package of Quillmere: configures build-package/ with only what the package
# holds (no tests, no benchmarks) and Debian's hardening flags, builds it, runs cpack -G DEB and
# puts quillmere_VERSION-REVISION_ARCH.deb at the root of the clone. Then shows the package's
# size and dependencies, and what lintian finds. Install it with
#   apt-get install ./quillmere_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

launcher=""
if command -v ccache >/dev/null 2>&1; then launcher=ccache; fi
# The manual pages carry the date of the last commit, not of the build.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
  -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
cmake --build build-package --parallel "$(nproc)"
rm -f build-package/quillmere_*.deb
(cd build-package && cpack -G DEB)

deb=$(cd build-package && echo quillmere_*.deb)
mv "build-package/$deb" .
echo
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB)"
echo "depends: $(dpkg-deb -f "$deb" Depends)"
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
echo "lintian: $(grep -v 'root privileges' <<<"$report" || echo "nothing to report")"
if [ "$status" -ne 0 ]; then
  echo "lintian reports an error: fix it before installing the package" >&2
  exit 1
fi
echo "install it with: apt-get install ./$deb"
