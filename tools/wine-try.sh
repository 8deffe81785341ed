#!/usr/bin/env bash
# Tries an installer under Wine as a person would meet it, with its Chinese
# texts readable: a Wine prefix of its own (your default one is left alone),
# the installer's design font "微软雅黑" mapped to WenQuanYi Micro Hei, then
# the installer started. Without that mapping a fresh prefix shows every
# Chinese text as boxes.
#
# Usage: tools/wine-try.sh [--fresh] INSTALLER.exe [ARGUMENTS...]
#   --fresh   start from a new prefix (only one this script made is removed)
# Environment: WINEPREFIX (default ~/.local/share/tarnel-wine-try), WINEARCH
# (default win32 for a new prefix: the installer is a 32-bit program).
# Needs: wine (with wine32:i386 for a 32-bit prefix) and fonts-wqy-microhei.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

fresh=0
if [[ "${1:-}" == --fresh ]]; then
  fresh=1
  shift
fi
if [[ $# -lt 1 || "$1" == -h || "$1" == --help ]]; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit $(( $# < 1 ))
fi
installer=$(realpath "$1")
shift
[[ -f "$installer" ]] || { echo "wine-try: no such file: $installer" >&2; exit 1; }

missing=()
command -v wine >/dev/null || missing+=(wine wine32:i386)
# The font list read whole first: `fc-list | grep -q` under pipefail fails
# when grep stops reading at its first match and fc-list gets SIGPIPE.
fonts=$(fc-list : family 2>/dev/null || true)
grep -qi "WenQuanYi Micro Hei" <<<"$fonts" || missing+=(fonts-wqy-microhei)
if ((${#missing[@]})); then
  echo "wine-try: install first: ${missing[*]}" >&2
  echo "  (Debian: sudo dpkg --add-architecture i386 && sudo apt-get update && sudo apt-get install ${missing[*]})" >&2
  exit 1
fi

export WINEPREFIX=${WINEPREFIX:-$HOME/.local/share/tarnel-wine-try}
export WINEARCH=${WINEARCH:-win32}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts, no menu entries written into your desktop.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
stamp=$WINEPREFIX/.bench-ready  # what tools/wine-prefix.sh leaves in a prefix it made
if ((fresh)) && [[ -d "$WINEPREFIX" ]]; then
  if [[ ! -f "$stamp" ]]; then
    echo "wine-try: $WINEPREFIX was not made by this script; remove it yourself if you mean to" >&2
    exit 1
  fi
  WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi

echo "wine-try: prefix $WINEPREFIX (the design font mapped to WenQuanYi Micro Hei)"
bash "$here/wine-prefix.sh" "$WINEPREFIX" --desktop
echo "wine-try: starting $(basename "$installer")"
rc=0
wine "$installer" "$@" || rc=$?
echo "wine-try: the installer ended with exit code $rc (0: installed)"
echo "wine-try: to uninstall, start uninst.exe in the installation folder, or: WINEPREFIX=$WINEPREFIX wine uninstaller"
exit "$rc"
