#!/usr/bin/env bash
# The main job: a silent run of the demo installer under Wine; prints the
# events the scripts ran and the dated log file.
set -euo pipefail
build=$1
run="$build/wine-run"
exe="$build/bin/qvrinstaller_demo.exe"
out=$(mktemp -d)
events="$out/events.txt"
code=0
QVR_TEST_EVENTS="Z:$events" "$run" "$exe" /InstallSlience true || code=$?
echo "exit code: $code"
echo "--- events the scripts ran"
cat "$events"
temp=$("$run" cmd /c echo %TEMP% | tr -d '\r')
unix_temp=$("$build/wine-run" winepath -u "$temp" 2>/dev/null | tr -d '\r')
log="$unix_temp/Install_$(date +%Y-%m-%d).log"
echo "--- log file ${temp}\\Install_$(date +%Y-%m-%d).log"
tail -n 20 "$log"
rm -rf "$out"
