#!/usr/bin/env bash
# The builder as a publisher installs it: `make install`'s road (cmake
# --install) and `make dist`'s .deb unpacked with dpkg-deb into fresh
# folders, each then run from there: stripped, its stubs found next to itself
# (not in the current folder, not in the build tree), its dependencies the
# Debian packages it names, exactly its files (the tool, the two stubs, the
# manual page, the copyright file). And `make install` itself builds the
# builder alone: no Wine, no tests. The stubs in dist/ carry no link time.
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
for lib in libminizip1 zlib1g libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# PNG decoding is the builder's own, the same as the Windows copy's.
[[ "$depends" != *libpng* ]] || fail "Depends names libpng: $depends"
# The tool make build ships in dist/ is stripped, as make install's is.
[[ "$(file -b "$source/dist/mkinstaller")" == *", stripped"* ]] || fail "dist/mkinstaller is not stripped"

# Exactly these files, in both trees.
expected="bin/mkinstaller
lib/mkinstaller/mkinstaller
lib/mkinstaller/setup.exe
lib/mkinstaller/uninst.exe
share/doc/mkinstaller/copyright
share/man/man1/mkinstaller.1.gz"
installed=$(cd "$work/prefix" && find . ! -type d | sed 's|^\./||' | sort)
[[ "$installed" == "$expected" ]] || fail "make install's files: $installed"
packaged=$(cd "$work/root/usr" && find . ! -type d | sed 's|^\./||' | sort)
[[ "$packaged" == "$expected" ]] || fail "the .deb's files: $packaged"
manual=$work/prefix/share/man/man1/mkinstaller.1.gz
zcat "$manual" | head -1 | grep -q '^\.TH MKINSTALLER 1 ' || fail "the manual page has no title line"
for command in build check pack inspect list; do
  zcat "$manual" | grep -qx "\.SS $command" || fail "the manual page lacks '$command'"
done
zcat "$manual" | grep -q 'sign\\-ca\\-file' || fail "the manual page is not made from the current help"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/' \
  "$work/root/usr/share/doc/mkinstaller/copyright" || fail "the copyright file is not in Debian's format"

# make install builds the builder alone, in trees without tests, with the
# builder's packages only.
plan=$(make -n -C "$source" install BUILD="$work/make-n" PREFIX="$work/make-n-prefix" 2>&1)
for wanted in "tools/bootstrap.sh builder" "-DBUILD_TESTS=OFF" "--target setup uninst" "--target mkinstaller"; do
  [[ "$plan" == *"$wanted"* ]] || fail "make install does not run '$wanted': $plan"
done
for unwanted in wine xvfb ctest nginx; do
  if grep -qi -- "$unwanted" <<<"$plan"; then fail "make install mentions $unwanted: $plan"; fi
done
[[ ! -e "$work/make-n" ]] || fail "make -n install wrote $work/make-n"

# The shipped stubs carry no link time: the same commit builds the same bytes.
for stub in setup.exe uninst.exe; do
  stamp=$(python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read()
print(struct.unpack_from("<I", d, struct.unpack_from("<I", d, 0x3C)[0] + 8)[0])' "$source/dist/$stub")
  [[ "$stamp" == 0 ]] || fail "dist/$stub carries a link time ($stamp)"
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
