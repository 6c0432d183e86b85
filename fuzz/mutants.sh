#!/usr/bin/env bash
# Do the fuzz targets catch faults? Each fault kept in fuzz/mutants/NAME.sed (a sed script
# whose head names the target that must catch it, the product file it changes and the
# fault) is planted in a scratch copy of the tree, never in this one; the one target is
# rebuilt there and its kept inputs alone (fuzz/regressions/TARGET, fuzz/corpus/TARGET) are
# replayed: it must stop on a finding within WZA_MUTANT_SECONDS (30), no fuzzing allowed.
# Prints a table and exits 1 when a fault got past, or a script no longer applies (the code
# it changes moved: move the script with it) or its build fails.
#
#   fuzz/mutants.sh [NAME...]        every fault by default
#
# Run by hand, and before changing a target; not part of CI. The scratch copy and its build
# stay in WZA_MUTANTS_DIR (a folder in /dev/shm) so that a second run builds little.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/targets.sh"
LIMIT="${WZA_MUTANT_SECONDS:-30}"
SCRATCH="${WZA_MUTANTS_DIR:-/dev/shm/wza-mutants-$(id -u)-$(printf %s "$FUZZ_ROOT" | cksum | cut -d' ' -f1)}"
SRC="$SCRATCH/src"
BUILD="$SCRATCH/build"
MUTANTS="$FUZZ_ROOT/fuzz/mutants"

if [ $# -gt 0 ]; then names=("$@"); else
  names=()
  for script in "$MUTANTS"/*.sed; do names+=("$(basename "$script" .sed)"); done
fi
field() { sed -n "s/^# $1: //p" "$MUTANTS/$2.sed"; }

# The scratch copy: the tree's files as they are now (committed or not), copied only where
# they differ, so that the build there redoes only what changed.
sync_scratch() {
  local listed="$SCRATCH/listed" present="$SCRATCH/present" file
  mkdir -p "$SRC"
  git -C "$FUZZ_ROOT" ls-files -co --exclude-standard | grep -v '^fuzz/corpus/\|^fuzz/regressions/' |
    sort >"$listed"
  (cd "$SRC" && find . -type f | sed 's|^\./||' | sort) >"$present"
  comm -13 "$listed" "$present" | while read -r file; do rm -f "$SRC/$file"; done
  while read -r file; do
    [ -f "$FUZZ_ROOT/$file" ] || continue
    if ! cmp -s "$FUZZ_ROOT/$file" "$SRC/$file"; then
      mkdir -p "$(dirname "$SRC/$file")"
      cp "$FUZZ_ROOT/$file" "$SRC/$file"
    fi
  done <"$listed"
}

# The target's kept inputs, replayed once each: "caught", "missed" or "timed out".
replay() {
  local target="$1" log="$2" kept=() status=0
  for folder in "$FUZZ_ROOT/fuzz/regressions/$target" "$FUZZ_ROOT/fuzz/corpus/$target"; do
    [ -d "$folder" ] && kept+=("$folder")
  done
  local work
  work="$(mktemp -d "$SCRATCH/work.XXXXXX")"
  # shellcheck disable=SC2046,SC2086 # the options are words
  WZA_FUZZ_WORKDIR="$work" timeout "$LIMIT" "$BUILD/bin/fuzz_$target" -runs=0 \
    $(FUZZ_BUILD="$BUILD" fuzz_options "$target") $FUZZ_LIMITS \
    -artifact_prefix="$SCRATCH/artifacts/" "${kept[@]}" >"$log" 2>&1 || status=$?
  rm -rf "$work"
  case "$status" in
    0) echo missed ;;
    124) echo "timed out" ;;
    *) echo caught ;;
  esac
}

mkdir -p "$SCRATCH/artifacts" "$SCRATCH/logs"
sync_scratch
echo "building the fuzz targets in $BUILD" >&2
(FUZZ_ROOT="$SRC" FUZZ_BUILD="$BUILD" fuzz_build >"$SCRATCH/logs/build.log" 2>&1) ||
  { tail -n 30 "$SCRATCH/logs/build.log" >&2; exit 1; }

# Unchanged, each target must pass its kept inputs: else a "caught" would mean nothing.
targets=()
for name in "${names[@]}"; do
  [ -f "$MUTANTS/$name.sed" ] || { echo "no fault $name in $MUTANTS" >&2; exit 2; }
  target="$(field target "$name")"
  [[ " ${targets[*]} " == *" $target "* ]] || targets+=("$target")
done
for target in "${targets[@]}"; do
  if [ "$(replay "$target" "$SCRATCH/logs/$target-unchanged.log")" != missed ]; then
    echo "fuzz_$target fails its kept inputs unchanged: see $SCRATCH/logs/$target-unchanged.log" >&2
    exit 1
  fi
done

# A planted file is put back however the script ends.
original="$SCRATCH/original"
planted=""
put_back() { if [ -n "$planted" ]; then cp "$original" "$SRC/$planted"; planted=""; fi; }
trap put_back EXIT

survived=0
printf '%-38s %-10s %-10s %6s  %s\n' fault target "kept inputs" seconds "what it plants"
for name in "${names[@]}"; do
  target="$(field target "$name")"
  file="$(field file "$name")"
  cp "$SRC/$file" "$original"
  planted="$file"
  sed -i -f "$MUTANTS/$name.sed" "$SRC/$file"
  log="$SCRATCH/logs/$name.log"
  started=$(date +%s.%N)
  if cmp -s "$original" "$SRC/$file"; then
    result="no longer applies"
  elif ! cmake --build "$BUILD" --target "fuzz_$target" >"$log" 2>&1; then
    result="does not build"
  else
    started=$(date +%s.%N)
    result="$(replay "$target" "$log")"
  fi
  seconds="$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')"
  put_back
  [ "$result" = caught ] || survived=$((survived + 1))
  printf '%-38s %-10s %-10s %6s  %s\n' "$name" "$target" "$result" "$seconds" "$(field fault "$name")"
done
# The targets as they are again, for the next run.
cmake --build "$BUILD" >/dev/null 2>&1 || true
if [ "$survived" -gt 0 ]; then
  echo "$survived fault(s) not caught by the kept inputs (logs in $SCRATCH/logs)" >&2
  exit 1
fi
