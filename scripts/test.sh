#!/usr/bin/env bash
# Builds both ways (Linux, and 32-bit Windows run under Wine) and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

./scripts/bootstrap.sh

echo "== Linux build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== Linux tests again under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

echo "== Fuzzing the loader and extraction for a bounded time"
./fuzz/run.sh "${WZA_FUZZ_SECONDS:-180}"

echo "== Release packages: build them into dist/ and check what they hold"
./scripts/package.sh
./tests/packages_test.sh

echo "== Windows build (mingw-w64 i686) and tests under Wine"
cmake --preset win32 >/dev/null
cmake --build --preset win32
trap stop_display EXIT
ensure_display
ensure_wine_prefix
ctest --preset win32
