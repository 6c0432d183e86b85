#!/usr/bin/env bash
# Builds WZA Unpacker and starts its window (under Wine on Linux), with a sample archive
# to try it on in build/sample/. The 32-bit window is the product; where this machine
# cannot execute 32-bit code, the 64-bit build of the same window opens instead.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

./scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native

sample="$ROOT/build/sample/sample.wza"
mkdir -p "$(dirname "$sample")"
build/native/bin/make_sample_archive "$sample" >/dev/null

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  if can_run_win32; then build=win32; else build=win64; fi
  cmake --preset "$build" >/dev/null
  cmake --build --preset "$build" --target WzaUnpacker
  use_wine_for "$build"
  ensure_wine_prefix
  echo "Starting the $build build of WZA Unpacker ($WIN32_RUN_WHY)."
  echo "A sample archive to try is $sample"
  exec "$WINE" "build/$build/bin/WzaUnpacker.exe"
fi
echo "No display to show the window on; here is wza on the sample archive instead." >&2
build/native/bin/wza list "$sample"
build/native/bin/wza extract -d "$ROOT/build/sample/out" "$sample"
