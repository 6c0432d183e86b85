#!/usr/bin/env bash
# A long fuzzing campaign: every target at once, niced, on all the machine's cores, for
# HOURS (fractions allowed). A target that stops on a finding is started again; the
# finding's input stays in build/fuzz/campaign/NAME/findings/. At the end, new coverage is
# merged into the kept corpus (fuzz/corpus/NAME, minimised afresh, so it does not grow
# with what adds nothing), and a line per target gives runs, runs a second, coverage and
# findings (runs a second: over the campaign's whole time, as one process of a busy machine
# sees it).
#
#   fuzz/campaign.sh HOURS          FUZZ_ONLY="decode pack" picks targets
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/targets.sh"
HOURS="${1:?usage: fuzz/campaign.sh HOURS}"
read -r -a targets <<<"${FUZZ_ONLY:-${FUZZ_TARGETS[*]}}"
seconds="$(awk -v h="$HOURS" 'BEGIN {print int(h * 3600)}')"

FUZZ_BUILD_JOBS=1 nice -n 19 bash -c "source '$FUZZ_ROOT/fuzz/targets.sh'; fuzz_build" >/dev/null
CAMPAIGN="$FUZZ_BUILD/campaign"
WORK="$(fuzz_workdir)"
export WZA_FUZZ_WORKDIR="$WORK"
for target in "${targets[@]}"; do rm -f "$CAMPAIGN/$target"/session-*.log; done
start=$(date +%s)
end=$((start + seconds))
cores="$(nproc)"
jobs=$((cores / ${#targets[@]}))
[ "$jobs" -lt 1 ] && jobs=1

# One target until the end, started again after each finding.
fuzz_until_end() {
  local target="$1" dir="$CAMPAIGN/$1" session=0 left
  mkdir -p "$dir/corpus" "$dir/findings"
  local kept=()
  for folder in "$FUZZ_ROOT/fuzz/corpus/$target" "$FUZZ_ROOT/fuzz/regressions/$target"; do
    [ -d "$folder" ] && kept+=("$folder")
  done
  while left=$((end - $(date +%s))) && [ "$left" -gt 5 ] && [ ! -e "$CAMPAIGN/stop" ]; do
    session=$((session + 1))
    # shellcheck disable=SC2046 # the options are words
    nice -n 19 "$FUZZ_BUILD/bin/fuzz_$target" -max_total_time="$left" $(fuzz_options "$target") \
      $FUZZ_LIMITS -artifact_prefix="$dir/findings/" -print_final_stats=1 \
      "$dir/corpus" "${kept[@]}" "$(fuzz_seeds "$target")" >"$dir/session-$session.log" 2>&1 ||
      true
  done
}

# Stopped early (SIGINT, SIGTERM): the fuzzers end, and the merge and the figures follow.
mkdir -p "$CAMPAIGN"
rm -f "$CAMPAIGN/stop"
pids=()
stop() {
  touch "$CAMPAIGN/stop"
  for pid in "${pids[@]}"; do pkill -INT -P "$pid" 2>/dev/null || true; done
}
trap stop INT TERM
for target in "${targets[@]}"; do
  [ -x "$FUZZ_BUILD/bin/fuzz_$target" ] || continue
  for ((job = 0; job < jobs; job++)); do
    fuzz_until_end "$target" &
    pids+=($!)
  done
done
wait || true
rm -rf "$WORK"
elapsed=$(($(date +%s) - start))

printf '%-16s %12s %8s %8s %8s %9s\n' target runs runs/s cov ft findings
for target in "${targets[@]}"; do
  dir="$CAMPAIGN/$target"
  [ -d "$dir" ] || continue
  merged="$dir/merged"
  rm -rf "$merged"
  mkdir -p "$merged" "$FUZZ_ROOT/fuzz/corpus/$target"
  # shellcheck disable=SC2046
  # Edges alone decide what is kept (not hit counts): the corpus stays a few dozen KB.
  nice -n 19 "$FUZZ_BUILD/bin/fuzz_$target" -merge=1 -use_counters=0 $(fuzz_options "$target") $FUZZ_LIMITS \
    "$merged" "$FUZZ_ROOT/fuzz/corpus/$target" "$dir/corpus" >"$dir/merge.log" 2>&1 || true
  if [ -n "$(ls -A "$merged")" ]; then
    rm -rf "$FUZZ_ROOT/fuzz/corpus/$target"
    mv "$merged" "$FUZZ_ROOT/fuzz/corpus/$target"
  fi
  # shellcheck disable=SC2046
  coverage="$("$FUZZ_BUILD/bin/fuzz_$target" -runs=0 $(fuzz_options "$target") \
    "$FUZZ_ROOT/fuzz/corpus/$target" 2>&1 | awk '/INITED/ {print $4, $6}')"
  read -r cov ft <<<"${coverage:-0 0}"
  runs="$(cat "$dir"/session-*.log 2>/dev/null | awk '/stat::number_of_executed_units/ {s += $2} END {print s + 0}')"
  rate=$((runs / (elapsed > 0 ? elapsed : 1)))
  findings="$(find "$dir/findings" -type f | wc -l)"
  printf '%-16s %12s %8s %8s %8s %9s\n' "fuzz_$target" "$runs" "$rate" "$cov" "$ft" "$findings"
done
