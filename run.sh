#!/usr/bin/env bash
# One entry point for a fresh Debian machine:
#   ./run.sh main    set up, build, and run the main job (the sample product's silent
#                    install and uninstall under Wine)
#   ./run.sh test    set up, build, and run every test (CTest, under Wine and Xvfb)
#   ./run.sh build   set up and build only
# BUILD_DIR (default: build) selects the build tree; CTEST_ARGS is passed to ctest.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
mode=${1:-build}
shift || true
BUILD_DIR=${BUILD_DIR:-$root/build}

step() { printf '\n==> %s\n' "$*" >&2; }

step "system packages"
if [ "$(id -u)" -eq 0 ]; then ./cmake/setup-system.sh; else sudo ./cmake/setup-system.sh; fi

step "third-party libraries for i686 Windows"
t0=$(date +%s)
DEPS=$(./cmake/build-deps.sh | tail -1)
echo "deps prefix: $DEPS ($(( $(date +%s) - t0 )) s)" >&2

step "configure and build ($BUILD_DIR)"
t0=$(date +%s)
# ccache, when present, shares compiled objects between build trees and
# checkouts: paths below the checkout are hashed relative to it. The test
# programs' precompiled header is cached too (the sloppiness ccache asks for
# before it trusts one).
launcher=()
if command -v ccache >/dev/null; then
  cc_launcher="env;CCACHE_BASEDIR=$root;CCACHE_NOHASHDIR=1;CCACHE_SLOPPINESS=pch_defines,time_macros;ccache"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$cc_launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$cc_launcher")
fi
cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw32.cmake" \
  -DQVR_DEPS_PREFIX="$DEPS" "${launcher[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
echo "build: $(( $(date +%s) - t0 )) s" >&2

# Windows programs that show windows need an X display; CI has none.
. "$root/cmake/display.sh"
stop_all() {
  "$BUILD_DIR/wine-run" --kill >/dev/null 2>&1 || true
  stop_display
}
trap stop_all EXIT

case "$mode" in
  build) ;;
  main)
    start_display
    step "main job: the sample product installed silently and uninstalled"
    "$root/sample/main-job.sh" "$BUILD_DIR"
    ;;
  test)
    start_display
    step "tests"
    t0=$(date +%s)
    (cd "$BUILD_DIR" && ctest --output-on-failure -j1 ${CTEST_ARGS:-} "$@")
    echo "tests: $(( $(date +%s) - t0 )) s" >&2
    ;;
  *) echo "usage: $0 main|test|build" >&2; exit 2 ;;
esac
