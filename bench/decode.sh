#!/usr/bin/env bash
# Decoding in every build this machine runs: `wza test -j 1` on one 1 GiB text entry (level
# 6) and on 1,024 text entries of 1 MiB (level 1), for native wza, the 64-bit wza.exe under
# Wine's 64-bit loader and the 32-bit one where this machine runs 32-bit code. Each beside
# the same build with zlib alone (WZA_FAST_INFLATE=OFF: how every build decoded before
# libdeflate and ISA-L), and native `wza extract` at the default -j for its peak memory.
# Wine's start-up (wza.exe --version, timed in the same turns) is taken off the Wine runs.
#
#   bench/decode.sh        RUNS=5 bench/decode.sh     WZA_BENCH_WINE=0 bench/decode.sh
#
# Everything it makes lives in a folder on tmpfs (/dev/shm) and is removed at the end; the
# builds take turns within each run, and the medians are compared.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
cd "$ROOT"

RUNS="${RUNS:-5}"
BENCH_WINE="${WZA_BENCH_WINE:-1}"
WORK="$(mktemp -d /dev/shm/wza-decode.XXXXXX)"
WINE_PREFIXES=()
# Each prefix's wineserver is kept running for the whole benchmark: one that must start
# afresh for a run would add its start to that run alone, and not to the --version runs
# that measure Wine's start-up to take off.
stop_wineservers() {
  local prefix
  for prefix in "${WINE_PREFIXES[@]}"; do WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; done
}
trap 'stop_wineservers; rm -rf "$WORK"' EXIT
say() { printf '%s\n' "$*"; }
source "$ROOT/bench/timing.sh"

# --- building -----------------------------------------------------------------------------
# zlib_build PRESET DIR: the preset's wza with zlib alone, in DIR.
zlib_build() {
  cmake --preset "$1" -B "$2" -DWZA_FAST_INFLATE=OFF -DWZA_BUILD_TESTS=OFF >/dev/null &&
    cmake --build "$2" -j2 --target wza >/dev/null
}
./scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build build/native -j2 --target wza wza_bench_make >/dev/null
zlib_build native build/bench-zlib
BUILDS=(native native-zlib)
WIN_BUILDS=()
if [ "$BENCH_WINE" = 1 ] && command -v wine >/dev/null; then
  WIN_BUILDS=(win64)
  if can_run_win32; then WIN_BUILDS+=(win32); fi
fi
for preset in "${WIN_BUILDS[@]}"; do
  if cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" -j2 --target wza >/dev/null &&
    zlib_build "$preset" "build/bench-zlib-$preset"; then
    BUILDS+=("$preset" "$preset-zlib")
    use_wine_for "$preset"
    ensure_wine_prefix
    WINE_PREFIXES+=("$WINEPREFIX")
    wineserver -p
  else
    say "$preset build failed: left out"
  fi
done
can_run_win32 || true
say "== builds: ${BUILDS[*]} (32-bit: $WIN32_RUN_WHY)"

# exe_of BUILD: where the build's wza is.
exe_of() {
  case "$1" in
    native) echo "$ROOT/build/native/bin/wza" ;;
    native-zlib) echo "$ROOT/build/bench-zlib/bin/wza" ;;
    *-zlib) echo "$ROOT/build/bench-zlib-${1%-zlib}/bin/wza.exe" ;;
    *) echo "$ROOT/build/$1/bin/wza.exe" ;;
  esac
}

# run_build NAME BUILD ARGS...: one timed run of the build's wza, recorded under NAME; a
# Windows build runs under its Wine loader and prefix.
run_build() {
  local name="$1" build="$2" exe
  shift 2
  exe=$(exe_of "$build")
  case "$build" in
    native*) run_timed "$name" "$exe" "$@" ;;
    *) (use_wine_for "${build%-zlib}" && run_timed "$name" "$WINE" "$exe" "$@") ;;
  esac
}

# bench_archive KIND: the maker's archive of KIND, `wza test -j 1` by every build RUNS
# times taking turns, then the table.
bench_archive() {
  local kind="$1" archive="$WORK/$1.wza" b build out
  "$ROOT/build/native/bin/wza_bench_make" "$kind" "$archive"
  say "== $kind: $(( $(stat -c %s "$archive") >> 20 )) MiB archive; load $(cut -d' ' -f1-3 /proc/loadavg)"
  for ((run = 0; run < RUNS; ++run)); do
    for ((b = 0; b < ${#BUILDS[@]}; ++b)); do
      build="${BUILDS[$(( (run + b) % ${#BUILDS[@]} ))]}"
      case "$build" in
        native*) run_build "$kind-$build" "$build" test -j 1 -q "$archive" ;;
        *)
          run_build "$kind-$build" "$build" test -j 1 -q "$(winpath "$archive")"
          run_build "start-$build" "$build" --version
          ;;
      esac
    done
    out="$WORK/out"
    rm -rf "$out"
    run_timed "$kind-extract" "$(exe_of native)" extract -q -d "$out" "$archive"
    rm -rf "$out"
  done
  report "$kind"
  say "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  rm -f "$archive"
}

# The Wine runs less the median start of the same build's process: wall time, or with
# `cpu` the process's own CPU time (user + system), which a busy machine sways less.
decode_ms() {
  local median=median_ms
  [ "${3:-}" = cpu ] && median=median_cpu_ms
  case "$2" in
    native*) "$median" "$1-$2" ;;
    *) echo $(( $("$median" "$1-$2") - $("$median" "start-$2") )) ;;
  esac
}

report() {
  local native_ms native_cpu
  native_ms=$(decode_ms "$1" native)
  native_cpu=$(decode_ms "$1" native cpu)
  printf '%-12s %9s %9s %13s %8s %9s %10s   %s\n' build median "/ native" "/ zlib alone" CPU \
    "/ native" "peak RSS" "all runs (ms, Wine's start included)"
  for build in "${BUILDS[@]}"; do
    local ms cpu zlib="-"
    ms=$(decode_ms "$1" "$build")
    cpu=$(decode_ms "$1" "$build" cpu)
    case "$build" in *-zlib) ;; *) zlib=$(ratio "$ms" "$(decode_ms "$1" "$build-zlib")") ;; esac
    printf '%-12s %8ss %9s %13s %7ss %9s %6s MiB   %s\n' "$build" "$(seconds "$ms")" \
      "$(ratio "$ms" "$native_ms")" "$zlib" "$(seconds "$cpu")" "$(ratio "$cpu" "$native_cpu")" \
      "$(mib "$(peak_kib "$1-$build")")" "$(all_ms "$1-$build")"
  done
  say "native wza extract (default -j): median $(seconds "$(median_ms "$1-extract")")s," \
    "peak RSS $(mib "$(peak_kib "$1-extract")") MiB"
}

bench_archive single-text
bench_archive mib-entries
