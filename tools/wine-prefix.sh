#!/usr/bin/env bash
# Makes (once) the Wine prefix of a build tree: a 32-bit prefix whose HOME is
# inside the build tree, with the design font mapped to the installed CJK font.
# Usage: wine-prefix.sh PREFIX [--desktop]
#   --desktop  for a person's desktop (tools/wine-try.sh); without it the
#              prefix is for the tests' and benchmarks' Xvfb display.
set -euo pipefail
prefix=$(realpath -m "$1")
desktop=0
[[ ${2:-} == --desktop ]] && desktop=1
export WINEPREFIX=$prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine lets the window manager place and hide the windows it shows; when it
# hides one (closing it, or a dialog going), it waits for the window manager
# to confirm, and gives up only after 2 s. Xvfb runs no window manager, so
# every window closed in a test or benchmark cost 2 s there (setup.exe's close
# after "确定" took 4 s: the prompt, then the installer window), which neither
# Windows nor a desktop with a window manager costs. On that display Wine
# handles its windows itself ("Managed"="N"); a desktop keeps its manager.
managed=N
((desktop)) && managed=Y
stamp=$prefix/.bench-ready
[[ -f $stamp && $(cat "$stamp") == "managed=$managed" ]] && exit 0
mkdir -p "$prefix"
[[ -f $stamp ]] || wineboot -i >/dev/null 2>&1 || true
# The design font "微软雅黑" (and its English name) falls back to WenQuanYi Micro Hei.
reg=$(mktemp --suffix=.reg)
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  printf '"微软雅黑"="WenQuanYi Micro Hei"\r\n'
  printf '"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n'
  printf '"Microsoft YaHei UI"="WenQuanYi Micro Hei"\r\n'
  printf '"宋体"="WenQuanYi Micro Hei"\r\n'
  printf '"SimSun"="WenQuanYi Micro Hei"\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
  printf '"Managed"="%s"\r\n\r\n' "$managed"
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
echo "managed=$managed" > "$stamp"
