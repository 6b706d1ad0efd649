#!/usr/bin/env bash
# Installer benchmark: our installer against NSIS on the same payload.
#   bench/installers/run.sh [runs]        (default 5 runs each after one warm-up)
# Builds the project (./run.sh build), prepares a ~70 MB payload of PE files
# and text, packs it into both installers, runs both silent installs under
# Wine in alternation into fresh folders, and prints a table (also written to
# build/bench-installers/results.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
./run.sh build >&2
command -v makensis >/dev/null || { [ "$(id -u)" -eq 0 ] && apt-get install -y --no-install-recommends nsis >&2 || sudo apt-get install -y --no-install-recommends nsis >&2; }
exec python3 "$root/bench/installers/bench.py" "$root" "${1:-5}"
