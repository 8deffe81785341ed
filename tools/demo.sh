#!/usr/bin/env bash
# The main job: runs the installer under Wine and Xvfb as a person would and
# prints where the screenshots are. Usage: demo.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:-build}")
cd "$(dirname "$0")/.."
# The end-to-end demo flow lives in the Windows test tree; run just it.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build/windows" -R '^e2e_(demo|smoke)_test$' --output-on-failure
rc=$?
wineserver -k 2>/dev/null || true
echo "screenshots: $build/windows/screenshots/"
ls "$build/windows/screenshots/"
exit $rc
