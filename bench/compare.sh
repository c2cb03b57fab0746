#!/bin/sh
# Whole-process comparison with the tools people use today, on this machine in one run:
#   1. every valid .msg of the test corpus converted to EML: quillet FILE /E eml vs msgconvert
#   2. the 100 MB message converted to EML by both
#   3. reading every stream: quillet --dump vs python3 with olefile
#   4. batch: the valid corpus .msg files, and 1000 and 10000 generated ones (bench_generate_batch,
#      in $ORLENDO_BENCH_DATA/convert_generated), into one mbox in one process: quillet --convert
#      --to mbox on 1 and on 2 jobs vs msgconvert --mbox; and to EML files, quillet --convert on 2
#      jobs vs msgconvert writing them in one process. The peak memory of 1000 and of 10000 files
#      shows whether it grows with the number of files.
#   5. the 10000 generated ones to EML files again, both writing into a folder in memory
#      (/dev/shm): on a disk the time of 10000 new files depends on what the file system went
#      through before (a bare C loop that only writes them took 0.17 s to 2.3 s here, run after
#      run), in memory it is the converters' own.
# Each is run REPS times (default 3); the table shows the median wall time, the peak resident
# memory (/usr/bin/time -v) and how many files each converted; "faster" is the ratio of the wall
# times, "files/s" that of the files converted per second (the two differ where the peer gives
# up on some files).
# Usage: bench/compare.sh   (env: REPS, BUILD_DIR, ORLENDO_BENCH_DATA)
set -e
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
REPS=${REPS:-3}
BUILD=${BUILD_DIR:-$ROOT/build}
DATA=${ORLENDO_BENCH_DATA:-/tmp/orlendo-bench}
CORPUS="$ROOT/tests/data/corpus/msg"

if ! command -v msgconvert >/dev/null || ! /usr/bin/python3 -c 'import olefile' 2>/dev/null || [ ! -x /usr/bin/time ]; then
  echo "Installing the peers (msgconvert, python3-olefile) and GNU time"
fi
scripts/deps >/dev/null
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target quillet bench_generate_messages bench_generate_batch >/dev/null
bench/generate "$DATA" >/dev/null
"$BUILD/bench/bench_generate_batch" "$DATA/convert_generated" 10000
QUILLET="$BUILD/quillet"
WORK=$(mktemp -d)
RAM=""
if [ -d /dev/shm ] && [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = "tmpfs" ]; then
  RAM=$(mktemp -d /dev/shm/orlendo-compare.XXXXXX)
fi
trap 'rm -rf "$WORK" ${RAM:+"$RAM"}' EXIT INT TERM

# The valid messages: those that start with the compound-file signature.
: > "$WORK/files"
for f in "$CORPUS"/*.msg; do
  if [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = "d0cf11e0a1b11ae1" ]; then
    echo "$f" >> "$WORK/files"
  fi
done
NFILES=$(wc -l < "$WORK/files")

cat > "$WORK/quillet_eml.sh" <<SH
n=0
while read -r f; do
  "$QUILLET" "\$f" /E eml "$WORK/out/q.eml" /NOINI >/dev/null 2>&1 && [ -s "$WORK/out/q.eml" ] && n=\$((n+1))
  rm -f "$WORK/out/q.eml"
done < "$WORK/files"
echo \$n > "$WORK/count"
SH
cat > "$WORK/msgconvert_eml.sh" <<SH
n=0
while read -r f; do
  ( cd "$WORK/out" && msgconvert --outfile "$WORK/out/m.eml" "\$f" ) >/dev/null 2>&1 && [ -s "$WORK/out/m.eml" ] && n=\$((n+1))
  rm -f "$WORK/out/m.eml"
done < "$WORK/files"
echo \$n > "$WORK/count"
SH
cat > "$WORK/quillet_dump.sh" <<SH
n=0
while read -r f; do "$QUILLET" --dump "\$f" >/dev/null 2>&1 && n=\$((n+1)); done < "$WORK/files"
echo \$n > "$WORK/count"
SH
cat > "$WORK/olefile_read.py" <<'PY'
import sys, olefile
n = 0
for path in open(sys.argv[1]).read().split('\n'):
    if not path:
        continue
    try:
        with olefile.OleFileIO(path) as ole:
            for entry in ole.listdir(streams=True, storages=False):
                ole.openstream(entry).read()
        n += 1
    except Exception:
        pass
open(sys.argv[2], 'w').write(str(n))
PY
cat > "$WORK/quillet_mbox.sh" <<SH
"$QUILLET" --convert --quiet --jobs "\${2:-2}" --to mbox --out "$WORK/out/q.mbox" - < "\$1" >/dev/null 2>&1
SH
cat > "$WORK/count_q_mbox.sh" <<SH
grep -c '^From ' "$WORK/out/q.mbox" > "$WORK/count"; rm -f "$WORK/out/q.mbox"
SH
# emls_scripts SUFFIX FOLDER: the runs that write EML files into FOLDER, and their counts.
emls_scripts() {
  cat > "$WORK/quillet_emls$1.sh" <<SH
"$QUILLET" --convert --quiet --jobs 2 --out "$2/q" - < "\$1" >/dev/null 2>&1
SH
  cat > "$WORK/count_q_emls$1.sh" <<SH
find "$2/q" -name '*.eml' | wc -l > "$WORK/count"; rm -rf "$2/q"
SH
  cat > "$WORK/msgconvert_emls$1.sh" <<SH
mkdir -p "$2/m" && ( cd "$2/m" && xargs -d '\\n' msgconvert < "\$1" ) >/dev/null 2>&1
SH
  cat > "$WORK/count_m_emls$1.sh" <<SH
find "$2/m" -name '*.eml' | wc -l > "$WORK/count"; rm -rf "$2/m"
SH
}
emls_scripts "" "$WORK/out"
cat > "$WORK/msgconvert_mbox.sh" <<SH
( cd "$WORK/out" && xargs -d '\\n' msgconvert --mbox "$WORK/out/m.mbox" < "\$1" ) >/dev/null 2>&1
SH
cat > "$WORK/count_m_mbox.sh" <<SH
grep -c '^From ' "$WORK/out/m.mbox" > "$WORK/count"; rm -f "$WORK/out/m.mbox"
SH
mkdir -p "$WORK/out"

# run NAME COMMAND...: REPS runs; prints "median_seconds peak_kb count"
run() {
  name=$1; shift
  : > "$WORK/times"; : > "$WORK/rss"
  i=0
  while [ $i -lt "$REPS" ]; do
    echo "?" > "$WORK/count"
    # The wall time to the millisecond (GNU time gives hundredths, a twentieth of a run of
    # 0.2 s); GNU time for the peak memory.
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$WORK/one" "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    # Counting what was written and clearing it up are no part of the time.
    if [ -n "$AFTER" ]; then sh "$AFTER"; fi
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }' >> "$WORK/times"
    # The last line: before it GNU time says when the command failed (a peer on a bad file).
    tail -n 1 "$WORK/one" >> "$WORK/rss"
    i=$((i+1))
  done
  med=$(sort -n "$WORK/times" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  rss=$(sort -n "$WORK/rss" | tail -1)
  echo "$med $rss $(cat "$WORK/count")"
}

row() {  # label ours peer
  set -- "$1" $2 $3
  label=$1; qt=$2; qm=$3; qn=$4; pt=$5; pm=$6; pn=$7
  ratio=$(awk -v a="$qt" -v b="$pt" 'BEGIN { if (a > 0) printf "%.1fx", b / a; else print "-" }')
  # Files converted per second, ours over the peer's: the same as the time ratio where both
  # convert every file, higher where the peer gives up on some.
  rate=$(awk -v a="$qt" -v b="$pt" -v m="$qn" -v n="$pn" \
    'BEGIN { if (a > 0 && m > 0 && n > 0) printf "%.1fx", (m / a) / (n / b); else print "-" }')
  printf "%-40s %7ss %5s MB %5s   %7ss %5s MB %5s   %8s %9s\n" "$label" "$qt" "$((qm / 1024))" "$qn" "$pt" "$((pm / 1024))" "$pn" "$ratio" "$rate"
}

echo "Machine: $(nproc) cores, $(uname -sr); $REPS repetitions, median wall time, peak RSS"
printf "%-40s %-22s   %-22s   %8s %9s\n" "" "quillet (s, MB, files)" "peer (s, MB, files)" "faster" "files/s"

A=$(run q_eml sh "$WORK/quillet_eml.sh")
B=$(run m_eml sh "$WORK/msgconvert_eml.sh")
row "corpus .msg -> EML ($NFILES files)" "$A" "$B"

BIG="$DATA/big_attachment.msg"
A=$(run q_big sh -c "'$QUILLET' '$BIG' /E eml '$WORK/out/big.eml' /NOINI && echo 1 > '$WORK/count'")
B=$(REPS=1 run m_big sh -c "cd '$WORK/out' && msgconvert --outfile '$WORK/out/bigm.eml' '$BIG' && echo 1 > '$WORK/count'")
row "100 MB .msg -> EML (vs msgconvert)" "$A" "$B"
echo "  (the input is $(($(stat -c %s "$BIG") / 1048576)) MB; the EML written by quillet is $(($(stat -c %s "$WORK/out/big.eml" 2>/dev/null || echo 0) / 1048576)) MB, by msgconvert $(($(stat -c %s "$WORK/out/bigm.eml" 2>/dev/null || echo 0) / 1048576)) MB)"

A=$(run q_dump sh "$WORK/quillet_dump.sh")
B=$(run ole sh -c "/usr/bin/python3 '$WORK/olefile_read.py' '$WORK/files' '$WORK/count'")
row "corpus: read every stream (olefile)" "$A" "$B"

echo "$BIG" > "$WORK/bigfile"
A=$(run q_dumpbig sh -c "'$QUILLET' --dump '$BIG' >/dev/null && echo 1 > '$WORK/count'")
B=$(run ole_big sh -c "/usr/bin/python3 '$WORK/olefile_read.py' '$WORK/bigfile' '$WORK/count'")
C=$(run cat_big sh -c "cat '$BIG' >/dev/null && echo 1 > '$WORK/count'")
row "100 MB: read every stream (olefile)" "$A" "$B"
row "100 MB: quillet --dump vs cat" "$A" "$C"

A=$(AFTER="$WORK/count_q_mbox.sh" run q_mbox sh "$WORK/quillet_mbox.sh" "$WORK/files")
B=$(AFTER="$WORK/count_m_mbox.sh" run m_mbox sh "$WORK/msgconvert_mbox.sh" "$WORK/files")
row "corpus .msg -> one mbox" "$A" "$B"
A=$(AFTER="$WORK/count_q_emls.sh" run q_emls_corpus sh "$WORK/quillet_emls.sh" "$WORK/files")
B=$(AFTER="$WORK/count_m_emls.sh" run m_emls_corpus sh "$WORK/msgconvert_emls.sh" "$WORK/files")
row "corpus .msg -> EML files, 2 jobs" "$A" "$B"
for n in 1000 10000; do
  find "$DATA/convert_generated" -name '*.msg' | sort | head -$n > "$WORK/generated"
  # The peer takes long on many files: it runs once there, between our runs.
  peer_reps=$REPS
  [ "$n" -gt 1000 ] && peer_reps=1
  A=$(AFTER="$WORK/count_q_mbox.sh" run q_gen1 sh "$WORK/quillet_mbox.sh" "$WORK/generated" 1)
  B=$(AFTER="$WORK/count_m_mbox.sh" REPS=$peer_reps run m_gen sh "$WORK/msgconvert_mbox.sh" \
    "$WORK/generated")
  C=$(AFTER="$WORK/count_q_mbox.sh" run q_gen2 sh "$WORK/quillet_mbox.sh" "$WORK/generated" 2)
  row "$n generated .msg -> mbox, 1 job" "$A" "$B"
  row "$n generated .msg -> mbox, 2 jobs" "$C" "$B"
  A=$(AFTER="$WORK/count_q_emls.sh" run q_emls sh "$WORK/quillet_emls.sh" "$WORK/generated")
  B=$(AFTER="$WORK/count_m_emls.sh" REPS=$peer_reps run m_emls sh "$WORK/msgconvert_emls.sh" \
    "$WORK/generated")
  row "$n generated .msg -> EML files, 2 jobs" "$A" "$B"
done

if [ -n "$RAM" ]; then
  emls_scripts _ram "$RAM"
  A=$(AFTER="$WORK/count_q_emls_ram.sh" run q_emls_ram sh "$WORK/quillet_emls_ram.sh" "$WORK/generated")
  B=$(AFTER="$WORK/count_m_emls_ram.sh" REPS=1 run m_emls_ram sh "$WORK/msgconvert_emls_ram.sh" \
    "$WORK/generated")
  row "$n .msg -> EML files in RAM, 2 jobs" "$A" "$B"
fi
