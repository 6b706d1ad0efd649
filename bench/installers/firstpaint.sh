#!/usr/bin/env bash
# First paint and idle memory of the installer window: ours against an NSIS
# installer with the Modern UI 2 pages, both under Wine and Xvfb.
#   bench/installers/firstpaint.sh [runs]   (default 5 runs each after one warm-up)
# Builds the shipped installer (the build tree must be configured: ./run.sh
# build once), makes the NSIS one, starts Xvfb when DISPLAY is unset, and
# writes build/bench-installers/firstpaint.md. Uses the build's Wine prefix:
# run it while no test runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -f "$build/build.ninja" ] || (cd "$root" && ./run.sh build >&2)
cmake --build "$build" -t contoso_setup >&2
command -v makensis >/dev/null || { [ "$(id -u)" -eq 0 ] && apt-get install -y --no-install-recommends nsis >&2 || sudo apt-get install -y --no-install-recommends nsis >&2; }
. "$root/cmake/display.sh"
start_display
trap stop_display EXIT
python3 "$root/bench/installers/firstpaint.py" "$build" "${1:-5}"
