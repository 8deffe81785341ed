#!/usr/bin/env bash
# Installs what a fresh machine lacks for building and testing. Idempotent:
# on a machine that already has everything it only checks and returns.
set -euo pipefail

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest
  g++-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth xdotool imagemagick fonts-wqy-microhei
  libminizip-dev libpng-dev zlib1g-dev
  zip unzip minizip p7zip-full libarchive-tools nginx curl python3 python3-pil
  rapidjson-dev nlohmann-json3-dev osslsigncode openssl dpkg-dev file
)

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
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
echo "bootstrap: done"
