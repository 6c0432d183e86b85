#!/usr/bin/env bash
# The benchmark of `wza diff` and `wza extract --changed-from`, on tmpfs, one run printing
# the targets. OLD is the pack benchmark's archive of ~1 GiB of many entries.
#   1. NEW = OLD with one 1 MiB entry changed (pack --like): `wza diff OLD NEW` against
#      `wza test NEW` at the same -j (target <= 0.40); `wza extract NEW --changed-from OLD`
#      against the same (target <= 0.45);
#   2. NEW2 = the same content, every entry deflated anew at another level (pack -1 without
#      --like): `wza diff OLD NEW2` against `wza test OLD` + `wza test NEW2` (target <= 1.10);
#   3. peak memory of `wza diff` (and of extract --changed-from) less `wza extract`'s of the
#      same archive, at -j 1, 2 and 8 (target <= +16 MiB).
#
#   bench/diff.sh            RUNS=7 bench/diff.sh
#
# The tools take turns RUNS times; medians are compared, and each ratio comes from this one
# run. Everything lives in a folder in /dev/shm, removed at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/native_bench.sh" diff
ran() { [ -s "$WORK/times/$1" ]; }
line() {
  ran "$1" || { say "$1: not run"; return 0; }
  printf '%-22s %8ss   peak %6s MiB   runs (ms) %s\n' "$1" "$(seconds "$(median_ms "$1")")" \
    "$(mib "$(peak_kib "$1")")" "$(all_ms "$1")"
}

# `wza diff` exits with 1 when the archives differ, as OLD and NEW do, and with 0 when they
# hold the same content, as OLD and NEW2 do: any other status fails the run. Its listing
# goes where run_timed puts every output.
DIFF=(bash -c '"$0" diff "$@"; [ $? = 1 ]' "$BIN/wza")
DIFF_SAME=(bash -c '"$0" diff "$@"; [ $? = 0 ]' "$BIN/wza")
OLD="$WORK/old.big"
NEW="$WORK/new.big"
NEW2="$WORK/new2.big"
KIT="$WORK/kit"

# timed NAME: one timed run of the command of that name.
timed() {
  rm -rf "$KIT"
  case "$1" in
    test-old) run_timed "$1" "$BIN/wza" test -q "$OLD" ;;
    test-new) run_timed "$1" "$BIN/wza" test -q "$NEW" ;;
    test-new2) run_timed "$1" "$BIN/wza" test -q "$NEW2" ;;
    diff) ((HAVE_DIFF == 0)) || run_timed "$1" "${DIFF[@]}" "$OLD" "$NEW" ;;
    diff2) ((HAVE_DIFF == 0)) || run_timed "$1" "${DIFF_SAME[@]}" "$OLD" "$NEW2" ;;
    changed-from) run_timed "$1" "$BIN/wza" extract -q -d "$KIT" "$NEW" --changed-from "$OLD" ;;
  esac
  rm -rf "$KIT"
}

# turns NAME...: RUNS rounds of the commands, each round starting one further along, so
# that none always runs first.
turns() {
  local run k
  for ((run = 0; run < RUNS; ++run)); do
    for ((k = 0; k < $#; ++k)); do
      local at=$(( (run + k) % $# + 1 ))
      timed "${!at}"
    done
  done
}

# --- the archives --------------------------------------------------------------------------
"$BIN/wza_bench_make" pack-like "$OLD" "$WORK/old.txt"
say "OLD: $(wc -l <"$WORK/old.txt") entries, $(( $(stat -c %s "$OLD") >> 20 )) MiB"
# As bench/pack.sh: the compressed entry closest to 1 MiB gets 1 MiB of new text.
CHANGED=$(awk '$1 == 1 {d = $4 - 1048576; if (d < 0) d = -d; if (best == "" || d < near) {near = d; best = $5}}
  END {print best}' "$WORK/old.txt" | sed 's|^__old.big/||')
mkdir -p "$WORK/sparse/__old.big/$(dirname "$CHANGED")"
head -c 786432 /dev/urandom | base64 -w 100 >"$WORK/sparse/__old.big/$CHANGED"
"$BIN/wza" pack -q --like "$OLD" -o "$NEW" "$WORK/sparse/__old.big"
rm -rf "$WORK/sparse"
say "NEW: $CHANGED changed"
"$BIN/wza" extract -q -d "$WORK/full" "$OLD"
"$BIN/wza" pack -q -1 -o "$NEW2" "$WORK/full/__old.big"
rm -rf "$WORK/full"
say "NEW2: every entry packed anew at level 1, $(( $(stat -c %s "$NEW2") >> 20 )) MiB"

# What each command must find, before anything is timed. A wza that has no diff yet is
# measured without it.
HAVE_DIFF=1
"$BIN/wza" diff --help >/dev/null 2>&1 || HAVE_DIFF=0
if ((HAVE_DIFF)); then
  set +e
  "$BIN/wza" diff "$OLD" "$NEW" >"$WORK/diff.txt"
  status=$?
  set -e
  say "wza diff OLD NEW: exit $status, $(wc -l <"$WORK/diff.txt") line(s): $(head -c 200 "$WORK/diff.txt")"
else
  say "this wza has no diff command: its figures are left out"
fi
"$BIN/wza" extract -q -d "$KIT" "$NEW" --changed-from "$OLD"
say "extract --changed-from wrote $(find "$KIT" -type f | wc -l) file(s)"

# --- 1. one entry changed ------------------------------------------------------------------
say "== 1. NEW = OLD with one 1 MiB entry changed ($RUNS runs each, -j $CORES, $CORES cores)"
turns test-new diff changed-from
line test-new
line diff
line changed-from
load
ran diff && say "target 1: wza diff / wza test NEW <= 0.40: is $(ratio "$(median_ms diff)" "$(median_ms test-new)")"
say "target 1: extract --changed-from / wza test NEW <= 0.45: is" \
  "$(ratio "$(median_ms changed-from)" "$(median_ms test-new)")"

# --- 2. every entry stored anew ------------------------------------------------------------
say "== 2. NEW2 = the same content, every entry deflated anew ($RUNS runs each, -j $CORES)"
turns test-old test-new2 diff2
line test-old
line test-new2
line diff2
load
ran diff2 && say "target 2: wza diff OLD NEW2 / (wza test OLD + wza test NEW2) <= 1.10: is" \
  "$(ratio "$(median_ms diff2)" "$(( $(median_ms test-old) + $(median_ms test-new2) ))")"

# --- 3. memory -----------------------------------------------------------------------------
say "== 3. peak memory against wza extract of the same archive, at the same -j"
MOST=$((-1 << 40))  # the most above extract's, which may be below it
for j in 1 2 8; do
  rm -rf "$KIT"
  run_timed "extract-new-j$j" "$BIN/wza" extract -q -j "$j" -d "$KIT" "$NEW"
  rm -rf "$KIT"
  run_timed "extract-new2-j$j" "$BIN/wza" extract -q -j "$j" -d "$KIT" "$NEW2"
  rm -rf "$KIT"
  if ((HAVE_DIFF)); then
    run_timed "diff-j$j" "${DIFF[@]}" -j "$j" "$OLD" "$NEW"
    run_timed "diff2-j$j" "${DIFF_SAME[@]}" -j "$j" "$OLD" "$NEW2"
  fi
  run_timed "changed-from-j$j" "$BIN/wza" extract -q -j "$j" -d "$KIT" "$NEW" --changed-from "$OLD"
  rm -rf "$KIT"
  for pair in "diff-j$j extract-new-j$j" "diff2-j$j extract-new2-j$j" \
    "changed-from-j$j extract-new-j$j"; do
    set -- $pair
    ran "$1" || continue
    more=$(( $(peak_kib "$1") - $(peak_kib "$2") ))
    ((more > MOST)) && MOST=$more
    printf '  %-16s peak %6s MiB, %-16s %6s MiB: %+.1f MiB\n' "$1" "$(mib "$(peak_kib "$1")")" \
      "$2" "$(mib "$(peak_kib "$2")")" "$(mib "$more")"
  done
done
load
say "target 3: peak memory <= wza extract's + 16 MiB at -j 1, 2 and 8: is extract's + $(mib "$MOST") MiB"
