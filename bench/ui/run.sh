#!/usr/bin/env bash
# Skin-package lookup-and-inflate, layout parse and image decode timings, then
# five minutes of fuzzing per parser. Needs a configured build tree (./run.sh build).
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target bench_ui -j2
