#!/usr/bin/env bash
# Runs a Windows program under Wine in the test bench's own prefix.
# ctest uses this as the cross-compiling emulator.
set -uo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the test bench prefix (make test sets it)}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
# A client that reaches the wine server just as it shuts down (or while it is
# still starting) fails at once with "wine client error"; that says nothing
# about the program, so it is started again, at most twice.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
for attempt in 1 2 3; do
  # Into a file, not a pipe: Wine's helper processes may inherit the stream
  # and outlive the program.
  wine "$@" 2> "$err"
  rc=$?
  cat "$err" >&2
  if [[ $rc -ne 0 ]] && grep -q '^wine client error' "$err"; then
    echo "wine-run: the wine server refused the client (attempt $attempt); starting again" >&2
    sleep 1
    continue
  fi
  exit $rc
done
exit $rc
