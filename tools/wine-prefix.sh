#!/usr/bin/env bash
# Makes (once) the Wine prefix of a build tree: a 32-bit prefix whose HOME is
# inside the build tree, with the design font mapped to the installed CJK font.
# Usage: wine-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
export WINEPREFIX=$prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
stamp=$prefix/.bench-ready
if [[ -f $stamp ]]; then exit 0; fi
mkdir -p "$prefix"
wineboot -i >/dev/null 2>&1 || true
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
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
rm -f "$reg"
wineserver -w
touch "$stamp"
