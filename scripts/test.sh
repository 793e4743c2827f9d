#!/usr/bin/env bash
# Installs what is needed, builds the normal and the sanitizer build, and runs
# every test in both; then runs each fuzz target over its corpus and for 30 s.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen
# The SLURM test starts its own single-node cluster, which takes root: as root it
# must run, not skip.
[ "$(id -u)" -ne 0 ] || export ORVO2_REQUIRE_SLURM=1

echo "== Release build"
"$here/scripts/build.sh" "$here/build" -DCMAKE_BUILD_TYPE=Release
(cd "$here/build" && ctest --output-on-failure -j2)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
"$here/scripts/build.sh" "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DORVO2_SANITIZE=ON \
    -DORVO2_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g"
(cd "$here/build-asan" && ctest --output-on-failure -j2)

if command -v clang++ >/dev/null; then
    echo "== Fuzz targets (clang, libFuzzer): corpus, then 30 s each"
    "$here/scripts/fuzz.sh" 30
else
    echo "== clang++ not found: fuzz targets not run"
fi
