#!/bin/bash
# The whole kill sweep of an upgrade (docs/reliability.md): version 2 over
# version 1 killed at every fifth percent of its package step and on its
# finish page, each run again to its end and uninstalled to nothing. `make
# test` runs two of these points; this runs all 21. Needs `make build` and the
# Windows test programs (make test-windows builds them).
#   bash tools/kill_sweep.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all HOME=$build/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export UPGRADE_SWEEP=full
mkdir -p "$HOME"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX"
servers=$build/windows/servers
python3 "$root/tests/servers/serve.py" start "$servers" >/dev/null
trap 'python3 "$root/tests/servers/serve.py" stop "$servers" >/dev/null; WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true' EXIT
cd "$build/windows"
xvfb-run -a -s "-screen 0 1280x1024x24" wine tests/e2e_upgrade_test.exe --gtest_filter='*Killed*' 2>&1 |
  grep -av '^wine:'
