#!/usr/bin/env bash
# The main job: an installer with an embedded configuration and package (the
# demo application), run under Wine and Xvfb and clicked through as a person
# would; the application started, then uninstalled. Prints what it installed
# and where the screenshots are. Usage: demo.sh BUILD_DIR
set -uo pipefail
build=$(realpath "${1:-build}")
cd "$(dirname "$0")/.."
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build/windows" -R '^(http_servers_start|e2e_demo_test|http_servers_stop)$' \
  --output-on-failure --verbose 2>&1 | grep -E '^[0-9]+: demo:|Passed|Failed|tests passed|FAILED' | sed -E 's/^[0-9]+: //'
rc=${PIPESTATUS[0]}
wineserver -k 2>/dev/null || true
echo "screenshots: $build/windows/screenshots/"
ls "$build/windows/screenshots/" | grep '^demo-' || true
exit $rc
