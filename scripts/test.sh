#!/usr/bin/env bash
# Builds every way (Linux, Linux with sanitizers, 32-bit and 64-bit Windows) and runs every
# test this machine can run; the tests that run threads also under ThreadSanitizer. The 32-bit Windows suites need a machine that executes 32-bit
# code; the 64-bit ones run under Wine's 64-bit loader everywhere.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ROOT"

timings=()
stage() {  # stage NAME COMMAND...: runs one stage and keeps how long it took
  local name="$1" start=$SECONDS
  shift
  echo "== $name"
  "$@"
  timings+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
}
report_timings() {
  echo "== Stage timings"
  printf '%s\n' "${timings[@]}"
}

# Each suite's ctest summary is kept so the run can close with one line for all of them.
SUMMARIES="$(mktemp)"
trap 'rm -f "$SUMMARIES"; stop_display' EXIT
run_ctest() {
  local log="$SUMMARIES.$1"
  ctest --preset "$1" | tee "$log"
  grep -E 'tests passed, [0-9]+ tests failed out of' "$log" >>"$SUMMARIES"
  rm -f "$log"
}
closing_line() {
  awk '{ total += $NF; failed += $(NF-5) } END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$SUMMARIES"
}

native_tests() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  run_ctest "$1"
}
windows_build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
windows_tests() {
  use_wine_for "$1"
  ensure_wine_prefix
  run_ctest "$1"
}

stage "Bootstrap" ./scripts/bootstrap.sh
stage "Linux build and tests" native_tests native
stage "Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer (zlib alone)" native_tests sanitize
stage "Linux tests that run threads, under ThreadSanitizer" native_tests tsan
stage "Fuzzing every input surface" ./fuzz/run.sh "${WZA_FUZZ_SECONDS:-180}"
# Both Windows builds must compile and link on every machine, whatever runs here.
stage "Windows builds (mingw-w64 i686 and x86_64)" eval 'windows_build win32 && windows_build win64'

# Release packages from the builds above: the Debian package and the Windows zips, checked.
stage "Release packages" eval './scripts/package.sh && ./tests/packages_test.sh'

ensure_display
if can_run_win32; then
  echo "== Windows suites: win32 and win64 under Wine ($WIN32_RUN_WHY)"
  stage "Windows tests, 64-bit build" windows_tests win64
  stage "Windows tests, 32-bit build" windows_tests win32
else
  echo "== Windows suites: win64 only; win32 built but not run: $WIN32_RUN_WHY"
  stage "Windows tests, 64-bit build" windows_tests win64
fi
report_timings
closing_line
