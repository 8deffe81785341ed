#!/usr/bin/env bash
# Installs what a fresh machine lacks. Idempotent: on a machine that already
# has everything it only checks and returns.
#   bootstrap.sh          for building and testing everything (Wine, Xvfb, ...)
#   bootstrap.sh builder  for the builder alone (make install, make dist): the
#                         two compilers and the libraries mkinstaller and the
#                         two Windows programs it starts from are made with
set -euo pipefail

# The builder: the native tool (minizip, zlib, nlohmann/json) and
# setup.exe and uninst.exe (MinGW-w64 and its zlib); dpkg-dev names the .deb's
# dependencies.
BUILDER=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 libz-mingw-w64-dev
  libminizip-dev zlib1g-dev nlohmann-json3-dev
  dpkg-dev
)
# Everything else the tests, the demo, fuzzing and benchmarks use.
DEVELOPMENT=(
  clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest
  wine wine32:i386 wine64 xvfb xauth xdotool imagemagick fonts-wqy-microhei
  zip unzip minizip p7zip-full libarchive-tools nginx curl python3 python3-pil
  rapidjson-dev osslsigncode openssl file
)

PACKAGES=("${BUILDER[@]}")
# For the builder alone, only what is named: recommended packages would
# bring more than the compilers.
OPTIONS=(--no-install-recommends)
if [[ "${1:-}" != builder ]]; then
  PACKAGES+=("${DEVELOPMENT[@]}")
  OPTIONS=()
fi

missing=()
for p in "${PACKAGES[@]}"; do
  name=${p%%:*}
  arch=${p#*:}; [[ "$arch" == "$p" ]] && arch=""
  q=$name; [[ -n "$arch" ]] && q="$name:$arch"
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${OPTIONS[@]}" "${missing[@]}" >/dev/null
echo "bootstrap: done"
