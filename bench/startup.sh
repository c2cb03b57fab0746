#!/bin/sh
# Start-up of the windowless program, measured as whole processes: `quillet --version` and the
# conversion of a small message, each run many times; prints the median wall time per run.
# Usage: bench/startup.sh [RUNS]   (env: BUILD_DIR)
set -e
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD=${BUILD_DIR:-$ROOT/build}
RUNS=${1:-50}
cmake --build "$BUILD" --target quillet >/dev/null
Q="$BUILD/quillet"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT INT TERM
median() {  # command...: median wall milliseconds over RUNS runs
  i=0
  : > "$OUT/t"
  while [ $i -lt "$RUNS" ]; do
    s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
    echo $(( (e - s) / 1000 )) >> "$OUT/t"
    i=$((i + 1))
  done
  sort -n "$OUT/t" | awk '{a[NR]=$1} END {printf "%.2f ms", a[int((NR+1)/2)] / 1000}'
}
echo "quillet --version:                       $(median "$Q" --version)"
echo "quillet sample.msg /E html (small .msg): $(median "$Q" "$ROOT/resources/sample.msg" /E html "$OUT/s.html" /NOINI)"
echo "quillet sample.msg /E eml:               $(median "$Q" "$ROOT/resources/sample.msg" /E eml "$OUT/s.eml" /NOINI)"
echo "Libraries loaded by quillet (no window system):"
ldd "$Q" | awk '{print "  " $1}'
