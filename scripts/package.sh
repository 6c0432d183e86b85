#!/usr/bin/env bash
# Builds the release packages into dist/: the Debian package of wza (wza_<version>_amd64.deb)
# and, for each Windows preset, a zip of its exes (WzaUnpacker-<version>-win32.zip, -win64).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

./scripts/bootstrap.sh

mkdir -p dist
rm -f dist/wza_*.deb dist/WzaUnpacker-*.zip
for preset in native $(windows_presets); do
  echo "== Package from the $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  out="build/$preset/packages"
  rm -rf "$out"
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out"
  find "$out" -maxdepth 1 \( -name '*.deb' -o -name '*.zip' \) -exec mv -t dist/ {} +
done
ls -l dist/
