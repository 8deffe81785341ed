#!/usr/bin/env bash
# The builder as a publisher installs it: `make install`'s road (cmake
# --install) and `make dist`'s .deb unpacked with dpkg-deb into fresh
# folders, each then run from there: stripped, its stubs found next to itself
# (not in the current folder, not in the build tree), its dependencies the
# Debian packages it names.
# Usage: package_test.sh NATIVE_BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
native=$(realpath "$1") source=$(realpath "$2") work=$3
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$native" --prefix "$work/prefix" --strip --component mkinstaller >/dev/null
(cd "$native" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/mkinstaller_*.deb)
dpkg-deb -x "$deb" "$work/root"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libpng16-16 libminizip1 zlib1g libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

# An application and a configuration, and a decoy stub where an old tool
# would have looked: ./dist of the current folder.
mkdir -p "$work/pub/app" "$work/pub/dist"
printf 'MZ app' >"$work/pub/app/App.exe"
printf '{"softname": "Packaged", "softversion": "3.1", "mainfile": "App.exe", "installtype": "disk"}' \
  >"$work/pub/app.json"
printf 'not a program' >"$work/pub/dist/setup.exe"

for tool in "$work/prefix/bin/mkinstaller" "$work/root/usr/bin/mkinstaller"; do
  [[ -L "$tool" ]] || fail "$tool is not a link to lib/mkinstaller/mkinstaller"
  real=$(realpath "$tool")
  for f in setup.exe uninst.exe; do [[ -f $(dirname "$real")/$f ]] || fail "no $f beside $real"; done
  file "$real" | grep -q ", stripped" || fail "$real is not stripped"
  if grep -q -F "$source" "$real"; then fail "$real names the build machine's $source"; fi
  (
    cd "$work/pub"
    unset MKINSTALLER_HOME
    "$tool" --version | grep -q '^mkinstaller ' || fail "$tool --version"
    "$tool" pack app --out app.zip >/dev/null
    "$tool" build --config app.json --package app.zip --out setup.exe >/dev/null 2>build.err ||
      fail "$tool build: $(cat build.err)"
    "$tool" inspect setup.exe | grep -q '{app}/uninst.exe' || fail "$tool did not add its uninstaller"
    "$tool" inspect setup.exe | grep -q 'ProductVersion: 3.1' || fail "$tool wrote no version resource"
    rm -f setup.exe app.zip
  )
done
echo "package test: $(basename "$deb") and the installed tree both run from fresh folders"
