#!/usr/bin/env bash
# Runs a (32-bit) Windows test program in a 64-bit Wine prefix of the build
# tree, where the registry has the 64-bit layout and WOW64 redirection; makes
# the prefix on first use and stops the prefix's own wine server at the end.
# The program sees TARNEL_EXPECT_WIN64=1.
# Usage: run.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME=$prefix-home  # desktop and documents stay in the build tree
mkdir -p "$HOME"
if [[ ! -f $prefix/.bench-ready ]]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  touch "$prefix/.bench-ready"
fi
export TARNEL_EXPECT_WIN64=1
rc=0
wine "$@" || rc=$?
wineserver -k 2>/dev/null || true
exit $rc
