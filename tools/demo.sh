#!/usr/bin/env bash
# The main job: the demo application packed and built into an installer with
# the publisher's tools (examples/demo/make-installer.sh, dist/mkinstaller),
# run under Wine and Xvfb and clicked through as a person would, the
# application started, then uninstalled with its uninst.exe. Prints what it
# installed, where the screenshots are and that nothing is left.
# Usage: demo.sh BUILD_DIR
set -uo pipefail
build=$(realpath "${1:-build}")
cd "$(dirname "$0")/.."
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build/windows" \
  -R '^(http_servers_start|demo_installer|e2e_demo_test|http_servers_stop)$' --output-on-failure --verbose 2>&1 |
  grep -E '^[0-9]+: (demo:|.*Failure$|Expected|  Actual|Which is)|\*\*\*(Failed|Timeout)' | sed -E 's/^[0-9]+: //'
rc=${PIPESTATUS[0]}
wineserver -k 2>/dev/null || true
echo "demo: screenshots in $build/windows/screenshots/: $(cd "$build/windows/screenshots/" && ls demo-* | tr '\n' ' ')"
[ "$rc" = 0 ] && echo "demo: done" || echo "demo: FAILED (ctest --test-dir $build/windows -R demo --output-on-failure)"
exit $rc
