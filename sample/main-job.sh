#!/usr/bin/env bash
# The main job: the sample product's installer (ContosoTranslatorSetup.exe)
# runs silently under Wine, then the product's uninstaller; prints what was
# installed (files, registry values, shortcuts, service, shell extension,
# statistics calls, log) and what is left, and the reports that the product's
# statistics gateway (a small server on 127.0.0.1:8100) received.
#   sample/main-job.sh <build-dir>
# Needs an X display for Wine (run.sh starts Xvfb).
set -uo pipefail
build=${1:?usage: sample/main-job.sh <build-dir>}
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/tools/run_with_server.py" --port 8100 --wine-run "$build/wine-run" "$build/bin/sample_tour.exe"
code=$?
echo "exit code: $code"
exit $code
