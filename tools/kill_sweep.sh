#!/bin/bash
# The whole kill matrix (docs/reliability.md): a fresh install and an upgrade
# killed at every point of tests/e2e/upgrade_test.cpp's table, each followed by
# every next step a person may take, each ending with one version whole or
# nothing. `make test` runs a spread of its cells; this runs all of them and
# prints the counts. Needs `make build` and the Windows test programs (make
# test-windows builds them).
#   bash tools/kill_sweep.sh [build-dir] [extra gtest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all HOME=$build/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export KILL_SWEEP=full
mkdir -p "$HOME"
bash "$root/tools/wine-prefix.sh" "$WINEPREFIX"
servers=$build/windows/servers
python3 "$root/tests/servers/serve.py" start "$servers" >/dev/null
trap 'python3 "$root/tests/servers/serve.py" stop "$servers" >/dev/null; WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true' EXIT
cd "$build/windows"
start=$(date +%s)
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" wine tests/e2e_upgrade_test.exe --gtest_filter='*KillMatrix*' "$@" 2>&1 |
  tr -d '\r' | grep -av '^wine:' | tee kill_sweep.log
passed=$(grep -c '^\[       OK \] Cells/KillMatrix' kill_sweep.log)
failed=$(grep -c '^\[  FAILED  \] Cells/KillMatrix.*ms)$' kill_sweep.log)
echo "kill sweep: $((passed + failed)) cells, $passed whole, $failed failed, $(( ($(date +%s) - start) / 60 )) min"
exit $(( failed > 0 ))
