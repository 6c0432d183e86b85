# Shared by the benchmarks: timed runs of a command and their medians. The caller sets WORK
# (a folder on tmpfs) and defines say().
# run_timed NAME COMMAND...: runs the command once under /usr/bin/time -v and appends
# "<wall ms> <peak RSS KiB> <CPU ms, user + system>" to $WORK/times/NAME. The wall time is
# taken around it.
mkdir -p "$WORK/times"
run_timed() {
  local name="$1"
  shift
  local start end
  start=$(date +%s%N)
  if ! /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$WORK/out.txt" 2>&1; then
    say "$name failed:"
    cat "$WORK/out.txt" >&2
    exit 1
  fi
  end=$(date +%s%N)
  local rss cpu
  rss=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$WORK/time.txt")
  cpu=$(awk -F: '/(User|System) time \(seconds\)/ {s += $2} END {printf "%d", s * 1000}' "$WORK/time.txt")
  echo "$(( (end - start) / 1000000 )) $rss $cpu" >>"$WORK/times/$name"
}

median_ms() { sort -n "$WORK/times/$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
median_cpu_ms() { sort -n -k3 "$WORK/times/$1" | awk '{a[NR]=$3} END {print a[int((NR+1)/2)]}'; }
peak_kib() { sort -n -k2 "$WORK/times/$1" | tail -1 | awk '{print $2}'; }
all_ms() { awk '{printf "%s%d", (NR>1?" ":""), $1}' "$WORK/times/$1"; }
seconds() { awk -v ms="$1" 'BEGIN {printf "%.3f", ms / 1000}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

