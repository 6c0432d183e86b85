#!/usr/bin/env bash
# Builds libdeflate and ISA-L's inflate for one mingw-w64 target from the Debian sources
# fetched by fetch_decoder_sources.sh, and installs them under OUT (include/, lib/).
#   build_decoders.sh TRIPLET ISAL_ARCH OUT
# TRIPLET: x86_64-w64-mingw32 or i686-w64-mingw32. ISAL_ARCH: mingw (its x86-64 assembly,
# with nasm), noarch (its portable C) or none (libdeflate alone).
# What is built once stays: a second run with the libraries there does nothing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

triplet="$1"
isal_arch="$2"
out="$3"
cc="$triplet-gcc-posix"
ar="$triplet-ar"

mkdir -p "$out/include" "$out/lib" "$out/work"
log="$out/build.log"
: >"$log"
# The libraries' makefiles probe the compiler noisily: their output is shown on failure only.
quiet_make() {
  make "$@" >>"$log" 2>&1 || {
    cat "$log" >&2
    exit 1
  }
}
# Both libraries make their objects inside their sources: each target builds a copy.
copy_sources() {
  local name="$1" from
  from="$(ls -d "$ROOT/build/decoders/src/$name"-*/ | head -n 1)"
  rm -rf "$out/work/$name"
  cp -a "$from" "$out/work/$name"
}

if [ ! -f "$out/lib/libdeflate.a" ]; then
  copy_sources libdeflate
  quiet_make -C "$out/work/libdeflate" -j2 CC="$cc" AR="$ar" libdeflatestatic.lib
  cp "$out/work/libdeflate/libdeflatestatic.lib" "$out/lib/libdeflate.a"
  cp "$out/work/libdeflate/libdeflate.h" "$out/include/"
fi

if [ "$isal_arch" != none ] && [ ! -f "$out/lib/libisal.a" ]; then
  copy_sources libisal
  # Its byte swaps are named for 64-bit Windows only: the 32-bit build gets gcc's own.
  swaps=""
  case "$triplet" in
    i686-*) swaps="-Disal_bswap16=__builtin_bswap16 -Disal_bswap32=__builtin_bswap32 -Disal_bswap64=__builtin_bswap64" ;;
  esac
  # Inflate alone (and the checksums it needs): the library's other units are not used.
  quiet_make -C "$out/work/libisal" -f Makefile.unx -j2 units=igzip arch="$isal_arch" AS=nasm \
    CC="$cc" AR="$ar" DEBUG="$swaps" bin/isa-l.a
  cp "$out/work/libisal/bin/isa-l.a" "$out/lib/libisal.a"
  mkdir -p "$out/include/isa-l"
  cp "$out/work/libisal/include/"*.h "$out/include/isa-l/"
fi
rm -rf "$out/work"
