# What fuzz/run.sh and fuzz/campaign.sh share: the targets, how each is run, and the build.
# Sourced, not run.

FUZZ_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FUZZ_BUILD="$FUZZ_ROOT/build/fuzz"

# Every target, the in-memory ones first; `archive` writes to disk (the end-to-end one).
FUZZ_TARGETS=(catalogue decode diff patterns names json pack archive)

# Its seeds (a folder of build/fuzz/seeds), longest input and dictionary.
fuzz_seeds() {
  case "$1" in
    decode | diff | patterns | names) echo "$FUZZ_BUILD/seeds/$1" ;;
    *) echo "$FUZZ_BUILD/seeds/archive" ;;
  esac
}
fuzz_options() {
  case "$1" in
    patterns) echo "-max_len=300 -dict=$FUZZ_ROOT/fuzz/patterns.dict" ;;
    names) echo "-max_len=256 -dict=$FUZZ_ROOT/fuzz/names.dict" ;;
    decode) echo "-max_len=4096" ;;
    diff) echo "-max_len=8192 -dict=$FUZZ_ROOT/fuzz/archive.dict" ;;
    json) echo "-max_len=4096 -dict=$FUZZ_BUILD/json.dict" ;;
    *) echo "-max_len=4096 -dict=$FUZZ_ROOT/fuzz/archive.dict" ;;
  esac
}
# What every run is held to: a finding, a hang or memory past these limits fails it.
FUZZ_LIMITS="-timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=512"

# Builds every target with clang (libFuzzer, ASan, UBSan) and writes the seeds afresh.
fuzz_build() {
  cmake -S "$FUZZ_ROOT/fuzz" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$FUZZ_BUILD" -j "${FUZZ_BUILD_JOBS:-2}"
  # libFuzzer takes one dictionary: the JSON target's is the archive's and its own.
  cat "$FUZZ_ROOT/fuzz/archive.dict" "$FUZZ_ROOT/fuzz/json.dict" >"$FUZZ_BUILD/json.dict"
  rm -rf "$FUZZ_BUILD/seeds"
  "$FUZZ_BUILD/bin/wza_fuzz_seeds" "$FUZZ_BUILD/seeds" >/dev/null
}

# A folder private to this run, in memory where there is one, for the targets that write.
fuzz_workdir() {
  mktemp -d /dev/shm/wza-fuzz.XXXXXX 2>/dev/null || mktemp -d
}

# "runs runs/s" from a libFuzzer log's final statistics (0 0 when it printed none).
fuzz_stats() {
  awk '/stat::number_of_executed_units/ {runs += $2}
       /stat::average_exec_per_sec/ {rate = $2}
       END {printf "%d %d\n", runs, rate}' "$@" 2>/dev/null
}
