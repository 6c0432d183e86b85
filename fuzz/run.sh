#!/usr/bin/env bash
# Builds the fuzz target with clang (libFuzzer, ASan, UBSan) in build/fuzz and runs it for a
# bounded time on a corpus seeded with our own generated archives.
#
#   fuzz/run.sh [SECONDS] [libFuzzer options...]     SECONDS defaults to 180
#
# The corpus grows in build/fuzz/corpus and is kept between runs; crashes, leaks and
# timeouts are written to build/fuzz/artifacts/ and make the script fail.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DURATION="${1:-180}"
shift || true
BUILD="$ROOT/build/fuzz"

cmake -S "$ROOT/fuzz" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD"

rm -rf "$BUILD/seeds"
"$BUILD/bin/wza_fuzz_seeds" "$BUILD/seeds"
mkdir -p "$BUILD/corpus" "$BUILD/artifacts"

# Extraction goes to a private folder in memory, removed however the run ends.
WORK="$(mktemp -d /dev/shm/wza-fuzz.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export WZA_FUZZ_WORKDIR="$WORK"

"$BUILD/bin/wza_fuzz" -max_total_time="$DURATION" -max_len=4096 -timeout=30 \
  -rss_limit_mb=2048 -dict="$ROOT/fuzz/archive.dict" -artifact_prefix="$BUILD/artifacts/" \
  -print_final_stats=1 "$@" "$BUILD/corpus" "$BUILD/seeds"
