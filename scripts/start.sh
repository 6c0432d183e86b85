#!/usr/bin/env bash
# Builds WZA Unpacker and starts its window (under Wine on Linux), with a sample archive
# to try it on in build/sample/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

./scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native
cmake --preset win32 >/dev/null
cmake --build --preset win32

sample="$ROOT/build/sample/sample.wza"
mkdir -p "$(dirname "$sample")"
build/native/bin/make_sample_archive "$sample" >/dev/null

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  ensure_wine_prefix
  echo "Starting WZA Unpacker; a sample archive to try is $sample"
  exec wine build/win32/bin/WzaUnpacker.exe
fi
echo "No display to show the window on; here is wza on the sample archive instead." >&2
build/native/bin/wza list "$sample"
build/native/bin/wza extract -d "$ROOT/build/sample/out" "$sample"
