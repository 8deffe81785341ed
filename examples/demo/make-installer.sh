#!/usr/bin/env bash
# The demo installer, made the way a publisher makes one: the application
# folder (this folder's app/ and the demo program, named after the software)
# packed with mkinstaller, which adds the uninstaller, then built into an
# installer with this folder's configuration and logo.
# Usage: make-installer.sh MKINSTALLER DEMOAPP.EXE OUT_DIR
# Leaves OUT_DIR/demo-setup.exe; prints "demo: ..." lines.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkinstaller=$(realpath "$1") demoapp=$(realpath "$2") out=$3
if [ ! -x "$mkinstaller" ]; then
  echo "demo: no $1; run 'make build' first" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out/app"
cp "$here"/app/* "$out/app/"
cp "$demoapp" "$out/app/演示程序.exe"
cd "$out"

say() { sed -u 's/^/demo: /'; }
# Runs the tool, showing the command as typed in $out.
mk() {
  echo "\$ mkinstaller $*" | sed "s|$here/|examples/demo/|g" | say
  "$mkinstaller" "$@" 2>&1 | say
}
echo "making the installer in $out with the publisher's tools" | say
mk pack app --out demo.zip
mk build --config "$here/demo.json" --logo "$here/logo.png" --package demo.zip --out demo-setup.exe
