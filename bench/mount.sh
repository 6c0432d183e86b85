#!/usr/bin/env bash
# The benchmark of `wza mount`, against its targets:
#   - `cat` of every file of the benchmark archive through the mount, against
#     `wza extract -j 1` of the same archive (target: at most 1.5 times as long);
#   - a 4 KiB read at random offsets of a 1 GiB compressed entry after one full pass
#     (target: at most 50 ms), each read sent to the mount with the page cache dropped;
#   - the mount process's peak memory (target: at most 96 MiB).
#
#   bench/mount.sh          RUNS=7 bench/mount.sh     READS=500 bench/mount.sh
#
# Linux with FUSE only. Works in a folder on tmpfs (/dev/shm), removed at the end; every
# mount it makes is undone, also when it fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
cd "$ROOT"

RUNS="${RUNS:-5}"
READS="${READS:-200}"
BIN="$ROOT/build/native/bin"
WORK="$(mktemp -d /dev/shm/wza-mount-bench.XXXXXX)"
MNT="$WORK/mnt"
DAEMON=""
cleanup() {
  if mountpoint -q "$MNT" 2>/dev/null; then fusermount3 -u "$MNT" 2>/dev/null || umount -l "$MNT"; fi
  if [ -n "$DAEMON" ]; then wait "$DAEMON" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

say() { printf '%s\n' "$*"; }

./scripts/bootstrap.sh
[ -e /dev/fuse ] || { say "no /dev/fuse here: nothing to measure"; exit 0; }
cmake --preset native >/dev/null
cmake --build --preset native --target wza wza_bench_make >/dev/null
mkdir -p "$MNT" "$WORK/times"

# Extraction on one thread: `-j 1` where this wza knows the option, else its only way.
JOBS=()
if "$BIN/wza" --help | grep -q -- '^ *-j '; then JOBS=(-j 1); fi

now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n "$WORK/times/$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
largest() { sort -n "$WORK/times/$1" | tail -1; }
all() { awk '{printf "%s%d", (NR>1?" ":""), $1}' "$WORK/times/$1"; }
seconds() { awk -v ms="$1" 'BEGIN {printf "%.3f", ms / 1000}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

# Mounts in the foreground, in the background of this script, so its process is known.
mount_archive() {
  "$BIN/wza" mount -f "$1" "$MNT" 2>>"$WORK/mount.log" &
  DAEMON=$!
  for _ in $(seq 1 500); do
    mountpoint -q "$MNT" && return
    sleep 0.02
  done
  say "the mount did not come up"
  cat "$WORK/mount.log" >&2
  exit 1
}

# Unmounts and keeps the mount process's peak memory (KiB) under NAME.
unmount_archive() {
  awk '/VmHWM/ {print $2}' "/proc/$DAEMON/status" >>"$WORK/times/$1"
  fusermount3 -u "$MNT"
  wait "$DAEMON"
  DAEMON=""
}

# --- every file of the benchmark archive ----------------------------------------------------
say "== the benchmark archive: cat of every file through the mount against wza extract ${JOBS[*]}"
ARCHIVE="$WORK/bench.wza"
"$BIN/wza_bench_make" large "$ARCHIVE" "$WORK/manifest.txt"
"$BIN/wza" extract -q -d "$WORK/tree" "$ARCHIVE"
mount_archive "$ARCHIVE"
diff -r "$WORK/tree/__bench.wza" "$MNT" >/dev/null || { say "the mount differs from extraction"; exit 1; }
unmount_archive rss-warmup
rm -rf "$WORK/tree"

for ((run = 0; run < RUNS; ++run)); do
  start=$(now_ms)
  "$BIN/wza" extract -q "${JOBS[@]}" -d "$WORK/out" "$ARCHIVE"
  echo $(($(now_ms) - start)) >>"$WORK/times/extract"
  # The same cat over the extracted files: what reading them costs without any mount.
  start=$(now_ms)
  find "$WORK/out" -type f -exec cat {} + >/dev/null
  echo $(($(now_ms) - start)) >>"$WORK/times/cat-tmpfs"
  rm -rf "$WORK/out"

  # A fresh mount each run: nothing of the archive is in the page cache or the mount's.
  mount_archive "$ARCHIVE"
  start=$(now_ms)
  find "$MNT" -type f -exec cat {} + >/dev/null
  echo $(($(now_ms) - start)) >>"$WORK/times/cat"
  unmount_archive rss-cat
done
EXTRACT_MS=$(median extract)
CAT_MS=$(median cat)
say "wza extract ${JOBS[*]}: median $(seconds "$EXTRACT_MS")s (runs: $(all extract) ms)"
say "cat through the mount: median $(seconds "$CAT_MS")s (runs: $(all cat) ms)"
TMPFS_MS=$(median cat-tmpfs)
say "cat of the extracted files on tmpfs: median $(seconds "$TMPFS_MS")s (runs: $(all cat-tmpfs) ms);" \
  "cat alone / extract = $(ratio "$TMPFS_MS" "$EXTRACT_MS")"
say "cat / extract = $(ratio "$CAT_MS" "$EXTRACT_MS") (target <= 1.50);" \
  "mount peak RSS $(mib "$(largest rss-cat)") MiB (target <= 96 MiB)"
rm -f "$ARCHIVE"

# --- one compressed entry of 1 GiB --------------------------------------------------------
say "== one compressed entry of 1 GiB: a full pass, then $READS reads of 4 KiB at random offsets"
"$BIN/wza_bench_make" single "$WORK/single.wza"
start=$(now_ms)
"$BIN/wza" extract -q "${JOBS[@]}" -d "$WORK/out" "$WORK/single.wza"
say "wza extract ${JOBS[*]}: $(seconds $(($(now_ms) - start)))s"
rm -rf "$WORK/out"
mount_archive "$WORK/single.wza"
start=$(now_ms)
cat "$MNT/data/huge.bin" >/dev/null
say "first pass (cat): $(seconds $(($(now_ms) - start)))s"
python3 - "$MNT/data/huge.bin" "$READS" <<'EOF'
import os, random, sys, time
path, reads = sys.argv[1], int(sys.argv[2])
fd = os.open(path, os.O_RDONLY)
size = os.fstat(fd).st_size
pick = random.Random(15)
times = []
for _ in range(reads):
    offset = pick.randrange(0, size - 4096)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)  # the read must reach the mount
    start = time.perf_counter()
    if len(os.pread(fd, 4096, offset)) != 4096:
        sys.exit("short read at %d" % offset)
    times.append((time.perf_counter() - start) * 1000)
times.sort()
print("4 KiB reads: median %.1f ms, 95th percentile %.1f ms, slowest %.1f ms (target <= 50 ms)"
      % (times[len(times) // 2], times[int(len(times) * 0.95)], times[-1]))
EOF
unmount_archive rss-single
say "mount peak RSS $(mib "$(largest rss-single)") MiB (target <= 96 MiB)"
