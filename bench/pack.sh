#!/usr/bin/env bash
# The benchmark of `wza pack`, on tmpfs, one run printing the five targets:
#   1. a new archive of a tree of ~20,000 files (~150 MB) against `zip -r -q -6` of the
#      same tree: time (target <= 0.6) and size (within 3 %);
#   2. --like a 1 GiB archive of many entries, the folder holding only one changed 1 MiB
#      file, against `cp` of the archive (target <= 1.5);
#   3. --like the same archive with its whole extracted tree, one file changed, against
#      `wza test` of it at the same -j (target <= 1.3);
#   4. peak memory of every pack run, at -j 1, the default and -j 64 (target <= 64 MiB);
#   5. 65,000 files of 300-byte paths, new and --like: peak memory against `wza extract`'s
#      of the same archive at the same -j (target <= extract's + 32 MiB).
#
#   bench/pack.sh            RUNS=7 bench/pack.sh
#
# Each tool runs RUNS times, taking turns; medians are compared. Everything lives in a
# folder in /dev/shm, removed at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/native_bench.sh" pack
line() { printf '%-22s %8ss   peak %6s MiB   runs (ms) %s\n' "$1" "$(seconds "$(median_ms "$1")")" \
  "$(mib "$(peak_kib "$1")")" "$(all_ms "$1")"; }

# --- 1. a new archive against zip ---------------------------------------------------------
say "== 1. a new archive of a tree of ~20,000 files, against zip -r -q -6 ($RUNS runs each, $CORES cores)"
"$BIN/wza_bench_make" pack-tree "$WORK/tree.big" "$WORK/tree.txt"
"$BIN/wza" extract -q -d "$WORK/tree" "$WORK/tree.big"
rm "$WORK/tree.big"
say "$(find "$WORK/tree" -type f | wc -l) files, $(du -sm --apparent-size "$WORK/tree" | cut -f1) MB"
for ((run = 0; run < RUNS; ++run)); do
  rm -f "$WORK/new.big" "$WORK/new.zip"
  if ((run % 2 == 0)); then
    run_timed pack-new "$BIN/wza" pack -q -o "$WORK/new.big" "$WORK/tree/__tree.big"
    (cd "$WORK/tree/__tree.big" && run_timed zip zip -r -q -6 "$WORK/new.zip" data)
  else
    (cd "$WORK/tree/__tree.big" && run_timed zip zip -r -q -6 "$WORK/new.zip" data)
    run_timed pack-new "$BIN/wza" pack -q -o "$WORK/new.big" "$WORK/tree/__tree.big"
  fi
done
line pack-new
line zip
NEW_SIZE=$(stat -c %s "$WORK/new.big")
ZIP_SIZE=$(stat -c %s "$WORK/new.zip")
load
say "target 1: pack / zip time <= 0.60: is $(ratio "$(median_ms pack-new)" "$(median_ms zip)");" \
  "size within 3 %: archive $NEW_SIZE, zip $ZIP_SIZE bytes, ratio $(ratio "$NEW_SIZE" "$ZIP_SIZE")"
run_timed pack-new-j1 "$BIN/wza" pack -q -j 1 -o "$WORK/j1.big" "$WORK/tree/__tree.big"
run_timed pack-new-j64 "$BIN/wza" pack -q -j 64 -o "$WORK/j64.big" "$WORK/tree/__tree.big"
cmp "$WORK/j1.big" "$WORK/j64.big" && cmp "$WORK/j1.big" "$WORK/new.big" && say "-j 1, -j 64 and the default give the same bytes"
rm -rf "$WORK/tree" "$WORK"/*.big "$WORK/new.zip"

# --- 2. and 3. --like a 1 GiB archive ---------------------------------------------------------
say "== 2. and 3. --like an archive of ~1 GiB of many entries"
ARCHIVE="$WORK/like.big"
"$BIN/wza_bench_make" pack-like "$ARCHIVE" "$WORK/like.txt"
say "$(wc -l <"$WORK/like.txt") entries, archive $(( $(stat -c %s "$ARCHIVE") >> 20 )) MiB"
# The compressed entry closest to 1 MiB is the one changed: 1 MiB of new text.
CHANGED=$(awk '$1 == 1 {d = $4 - 1048576; if (d < 0) d = -d; if (best == "" || d < near) {near = d; best = $5}}
  END {print best}' "$WORK/like.txt" | sed 's|^__like.big/||')
new_content() { head -c 786432 /dev/urandom | base64 -w 100 >"$1"; }  # 1 MiB of text
mkdir -p "$WORK/sparse/__like.big/$(dirname "$CHANGED")"
new_content "$WORK/sparse/__like.big/$CHANGED"
say "changed: $CHANGED"
for ((run = 0; run < RUNS; ++run)); do
  rm -f "$WORK/copy.big" "$WORK/out.big"
  if ((run % 2 == 0)); then
    run_timed cp cp "$ARCHIVE" "$WORK/copy.big"
    run_timed pack-sparse "$BIN/wza" pack -q --like "$ARCHIVE" -o "$WORK/out.big" "$WORK/sparse/__like.big"
  else
    run_timed pack-sparse "$BIN/wza" pack -q --like "$ARCHIVE" -o "$WORK/out.big" "$WORK/sparse/__like.big"
    run_timed cp cp "$ARCHIVE" "$WORK/copy.big"
  fi
done
rm -f "$WORK/copy.big"
line pack-sparse
line cp
load
say "target 2: pack --like (sparse folder) / cp <= 1.50: is $(ratio "$(median_ms pack-sparse)" "$(median_ms cp)")"

"$BIN/wza" extract -q -d "$WORK/full" "$ARCHIVE"
cp "$WORK/sparse/__like.big/$CHANGED" "$WORK/full/__like.big/$CHANGED"
for ((run = 0; run < RUNS; ++run)); do
  rm -f "$WORK/out.big"
  if ((run % 2 == 0)); then
    run_timed test "$BIN/wza" test -q "$ARCHIVE"
    run_timed pack-full "$BIN/wza" pack -q --like "$ARCHIVE" -o "$WORK/out.big" "$WORK/full/__like.big"
  else
    run_timed pack-full "$BIN/wza" pack -q --like "$ARCHIVE" -o "$WORK/out.big" "$WORK/full/__like.big"
    run_timed test "$BIN/wza" test -q "$ARCHIVE"
  fi
done
line pack-full
line test
load
say "target 3: pack --like (whole tree) / wza test, both -j $CORES, <= 1.30: is" \
  "$(ratio "$(median_ms pack-full)" "$(median_ms test)")"
# The same at -j 1: comparing then takes one core, and copying OLD the other.
for ((run = 0; run < RUNS; ++run)); do
  rm -f "$WORK/j1.big"
  if ((run % 2 == 0)); then
    run_timed test-j1 "$BIN/wza" test -q -j 1 "$ARCHIVE"
    run_timed pack-full-j1 "$BIN/wza" pack -q -j 1 --like "$ARCHIVE" -o "$WORK/j1.big" "$WORK/full/__like.big"
  else
    run_timed pack-full-j1 "$BIN/wza" pack -q -j 1 --like "$ARCHIVE" -o "$WORK/j1.big" "$WORK/full/__like.big"
    run_timed test-j1 "$BIN/wza" test -q -j 1 "$ARCHIVE"
  fi
done
line pack-full-j1
line test-j1
say "target 3 at -j 1: pack --like (whole tree) / wza test, both -j 1: is" \
  "$(ratio "$(median_ms pack-full-j1)" "$(median_ms test-j1)")"
run_timed pack-full-j64 "$BIN/wza" pack -q -j 64 --like "$ARCHIVE" -o "$WORK/j64.big" "$WORK/full/__like.big"
cmp "$WORK/j1.big" "$WORK/out.big" && cmp "$WORK/j64.big" "$WORK/out.big" && say "-j 1, -j 64 and the default give the same bytes"
line pack-full-j64

# --- 4. memory -----------------------------------------------------------------------------
PEAK=0
for name in pack-new pack-new-j1 pack-new-j64 pack-sparse pack-full pack-full-j1 pack-full-j64; do
  kib=$(peak_kib "$name")
  ((kib > PEAK)) && PEAK=$kib
  printf '  %-16s peak %6s MiB\n' "$name" "$(mib "$kib")"
done
load
say "target 4: peak memory <= 64 MiB at any -j: is $(mib "$PEAK") MiB"

# --- 5. many long names --------------------------------------------------------------------
say "== 5. 65,000 files of 300-byte paths: pack's peak memory against extract's at the same -j"
rm -rf "$WORK/full" "$WORK/sparse" "$WORK"/*.big
"$BIN/wza_bench_make" pack-names "$WORK/names.big"
MOST=0
for j in 1 "$CORES" 64; do
  rm -rf "$WORK/names" "$WORK/names-new.big" "$WORK/names-like.big"
  run_timed "extract-names-j$j" "$BIN/wza" extract -q -j "$j" -d "$WORK/names" "$WORK/names.big"
  run_timed "pack-names-j$j" "$BIN/wza" pack -q -j "$j" -o "$WORK/names-new.big" "$WORK/names/__names.big"
  run_timed "like-names-j$j" "$BIN/wza" pack -q -j "$j" --like "$WORK/names.big" \
    -o "$WORK/names-like.big" "$WORK/names/__names.big"
  base=$(peak_kib "extract-names-j$j")
  for name in "pack-names-j$j" "like-names-j$j"; do
    more=$(($(peak_kib "$name") - base))
    ((more > MOST)) && MOST=$more
    printf '  %-16s peak %6s MiB, extract %6s MiB\n' "$name" "$(mib "$(peak_kib "$name")")" "$(mib "$base")"
  done
done
cmp "$WORK/names-like.big" "$WORK/names.big" && say "--like gives the archive back byte for byte"
load
say "target 5: pack's peak memory <= extract's + 32 MiB at the same -j: is extract's + $(mib "$MOST") MiB"
