#!/usr/bin/env bash
# Installs everything the native build, the Windows cross build and the tests need.
# Idempotent: packages already present are not touched, so a second run is quick.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=(
  build-essential cmake ninja-build pkg-config zlib1g-dev libisal-dev libdeflate-dev nasm
  googletest libgtest-dev
  libfuse3-dev fuse3
  g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick python3 unzip zip time
  clang libclang-rt-14-dev nlohmann-json3-dev
  fonts-wine fonts-liberation
  dpkg-dev fakeroot file groff-base
)

missing=()
for p in "${need[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
