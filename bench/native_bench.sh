# What the benchmarks of the native wza over the pack benchmark's archives share (pack.sh,
# diff.sh): the build, RUNS, a folder on tmpfs removed at the end, the machine's load
# beside every figure, and the timed runs. Sourced with the benchmark's name as argument.
BENCH_NAME="$1"
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
cd "$ROOT"

RUNS="${RUNS:-5}"
BIN="$ROOT/build/native/bin"
WORK="$(mktemp -d "/dev/shm/wza-$BENCH_NAME-bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
say() { printf '%s\n' "$*"; }
# The machine may be shared: its load goes beside every figure.
load() { say "load: $(uptime | sed 's/.*load average: //')"; }

./scripts/bootstrap.sh
cmake --preset native >/dev/null
cmake --build --preset native --target wza wza_bench_make >/dev/null
CORES=$(nproc)

source "$ROOT/bench/timing.sh"
