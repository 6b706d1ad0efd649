#!/usr/bin/env bash
# Installer benchmark: our installer against NSIS on the same payloads.
#   bench/installers/run.sh [runs] [--sizes 100,200,400] [--no-shipped]
# (default 5 runs each after one warm-up). Builds what it needs, prepares a
# ~70 MB payload of PE files and text and payloads of large incompressible
# files in several sizes (MiB), packs each into both installers, runs both
# silent installs under Wine in alternation into fresh folders, and prints
# tables (also written to $BUILD_DIR/bench-installers/results.md).
# It uses the build tree's Wine prefix and port 8100: not while tests run there.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=${BUILD_DIR:-$root/build}
targets=(wineprefix qvrpack qvrengine contoso_setup bench_shipped_traced)
if [ -f "$build/build.ninja" ]; then
  # A configured tree: only what the benchmark runs (the machine is shared).
  cmake --build "$build" -t "${targets[@]}" >&2
else
  ./run.sh build >&2
fi
need=()
command -v makensis >/dev/null || need+=(nsis)
command -v 7zz >/dev/null || need+=(7zip)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then apt-get install -y --no-install-recommends "${need[@]}" >&2
  else sudo apt-get install -y --no-install-recommends "${need[@]}" >&2; fi
fi
exec python3 "$root/bench/installers/bench.py" "$root" "${1:-5}" "${@:2}"
