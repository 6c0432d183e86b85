#!/usr/bin/env bash
# The fuzz stage of CI: builds every target with clang (libFuzzer, ASan, UBSan) in
# build/fuzz and runs each from its kept corpus (fuzz/corpus/NAME), its seeds and its
# regression inputs (fuzz/regressions/NAME) for a share of the time.
#
#   fuzz/run.sh [SECONDS] [libFuzzer options...]     SECONDS (all targets) defaults to 180
#
# The whole stage, building included, keeps within WZA_FUZZ_STAGE_LIMIT seconds (290): on a
# slow machine the targets get what the build left of it.
#
# Fails on any finding: a crash, a broken property, a leak, a hang, or memory past
# -rss_limit_mb / -malloc_limit_mb. Findings are written to build/fuzz/artifacts/; the kept
# corpus is only read (fuzz/campaign.sh merges into it).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/targets.sh"
DURATION="${1:-180}"
shift || true

STAGE_START=$SECONDS
fuzz_build
# What is left after the build, less some for each target's start and its corpus' loading.
left=$(( ${WZA_FUZZ_STAGE_LIMIT:-290} - (SECONDS - STAGE_START) - 30 ))
[ "$left" -lt "$DURATION" ] && DURATION=$left
[ "$DURATION" -lt 14 ] && DURATION=14
mkdir -p "$FUZZ_BUILD/artifacts"
WORK="$(fuzz_workdir)"
trap 'rm -rf "$WORK"' EXIT
export WZA_FUZZ_WORKDIR="$WORK"

# The end-to-end target writes to disk and is slow: half a share.
built=()
for target in "${FUZZ_TARGETS[@]}"; do
  [ -x "$FUZZ_BUILD/bin/fuzz_$target" ] && built+=("$target")
done
shares=$((${#built[@]} * 2 - 1))
failed=()
for target in "${built[@]}"; do
  weight=2
  [ "$target" = archive ] && weight=1
  seconds=$((DURATION * weight / shares))
  [ "$seconds" -lt 2 ] && seconds=2
  corpus="$WORK/corpus-$target"
  mkdir -p "$corpus"
  kept=()
  for folder in "$FUZZ_ROOT/fuzz/corpus/$target" "$FUZZ_ROOT/fuzz/regressions/$target"; do
    [ -d "$folder" ] && kept+=("$folder")
  done
  log="$FUZZ_BUILD/ci-$target.log"
  # shellcheck disable=SC2046 # the options are words
  if ! "$FUZZ_BUILD/bin/fuzz_$target" -max_total_time="$seconds" $(fuzz_options "$target") \
      $FUZZ_LIMITS -artifact_prefix="$FUZZ_BUILD/artifacts/$target-" -print_final_stats=1 \
      "$@" "$corpus" "${kept[@]}" "$(fuzz_seeds "$target")" >"$log" 2>&1; then
    failed+=("$target")
    tail -n 30 "$log" >&2
  fi
  read -r runs rate < <(fuzz_stats "$log")
  printf 'fuzz_%-10s %4ss %9s runs %7s runs/s\n' "$target" "$seconds" "$runs" "$rate"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $FUZZ_BUILD/artifacts/)" >&2
  exit 1
fi
