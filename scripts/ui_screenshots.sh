#!/usr/bin/env bash
# Runs the window tests inside a Wine virtual desktop, which draws title bars, and keeps a
# screenshot of each step as PNG: the main window, both dialogs, a run, the "Done" box.
#   scripts/ui_screenshots.sh [folder]      (default: /tmp/shots)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"
out="$(mkdir -p "${1:-/tmp/shots}" && cd "${1:-/tmp/shots}" && pwd)"

./scripts/bootstrap.sh
if can_run_win32; then build=win32; else build=win64; fi
echo "Screenshots of the $build build ($WIN32_RUN_WHY)"
cmake --preset "$build" >/dev/null
cmake --build --preset "$build" --target ui_tests
trap stop_display EXIT
ensure_display
use_wine_for "$build"
ensure_wine_prefix
# The tests save a bitmap at each step when WZA_UI_SHOTS names a folder.
WZA_UI_SHOTS="$(printf 'Z:%s' "${out//\//\\}")" "$WINE" explorer /desktop=shots,1024x768 \
  "build/$build/bin/ui_tests.exe" || echo "some window tests failed; screenshots kept" >&2
for bmp in "$out"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
done
ls "$out"/*.png
