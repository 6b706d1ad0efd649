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
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 99); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=:$n
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
    break
  done
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT
python3 "$root/bench/installers/firstpaint.py" "$build" "${1:-5}"
