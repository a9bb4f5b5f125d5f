#!/usr/bin/env bash
# Load test: N contacts (default 100,000) through the whole program with the command line tool: generate a vCard
# file, import it into a fresh database and once more (every contact merged), count, list and search it, export it
# to vCard and CSV, and transfer it to a simulated Android phone and a simulated iPhone. After each step what came
# out is compared with the file, contact by contact (bench/loadtest/compare.py); each step runs under
# /usr/bin/time -v for its time and peak memory.
#
#   scripts/loadtest.sh                 N=100000, WORK a temporary folder (removed at the end)
#   N=2000 WORK=/tmp/lt scripts/loadtest.sh
#
# Environment: N (contacts), WORK (folder for the files, kept when given), BUILD (default build-load, a Release
# build with the benchmarks; NO_BUILD=1 uses what is built), STEPS (default all: gen import merge dbs list
# search export phone iphone). Not part of ctest or CI. Prints a table of the steps and ends with status 1 when anything was
# lost, differed, crashed, or the import's peak memory went over 3 times the file's size plus 100 MB.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
N=${N:-100000}
BUILD=${BUILD:-build-load}
STEPS=${STEPS:-gen import merge dbs list search export phone iphone}
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"
WORK=$(cd "$WORK" && pwd)
COMPARE=(python3 "$ROOT/bench/loadtest/compare.py")

if [ -z "${NO_BUILD:-}" ]; then
  for tool in /usr/bin/time python3; do
    [ -x "$(command -v "$tool")" ] || { echo "loadtest: $tool is needed (apt-get install time python3)" >&2; exit 2; }
  done
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCONTACT_MOVER_BENCH=ON >/dev/null || exit 2
  cmake --build "$BUILD" -j1 --target vcard-bench-gen contact-mover-cli phone-sim iphone-sim >/dev/null || exit 2
fi
CLI="$ROOT/$BUILD/src/cli/contact-mover-cli"
VCF="$WORK/load$N.vcf"
HOMEDIR="$WORK/home"   # private HOME: a data folder of its own
DB=Load
FAILED=0
RESULTS="$WORK/results.txt"
: >"$RESULTS"

# step NAME CMD...: runs CMD under /usr/bin/time -v (stdout to WORK/NAME.out, stderr to WORK/NAME.err) and
# records its exit status, wall time and peak RSS. Sets STEP_RC and STEP_RSS_KB.
step() {
  local name=$1
  shift
  echo "== $name: $*" >&2
  /usr/bin/time -v -o "$WORK/$name.time" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  STEP_RC=$?
  local wall rss cpu
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$WORK/$name.time")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/$name.time")
  cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.1f", u + s }' "$WORK/$name.time")
  STEP_RSS_KB=${rss:-0}
  grep -q 'Command terminated by signal' "$WORK/$name.time" && STEP_RC=128
  printf '%-16s exit %3s  wall %10s  cpu %8s s  peak RSS %6d MB\n' "$name" "$STEP_RC" "$wall" "$cpu" \
    $((STEP_RSS_KB / 1024)) | tee -a "$RESULTS"
  [ "$STEP_RC" -eq 0 ] || { FAILED=1; tail -5 "$WORK/$name.err" >&2; }
}

# check NAME KIND TARGET: compares TARGET with the vCard file; the comparer's summary goes into the results.
check() {
  "${COMPARE[@]}" "$VCF" "$2" "$3" >"$WORK/$1.cmp" 2>"$WORK/$1.cmp.err"
  local rc=$?
  printf '%-16s %s\n' "  $1" "$(cat "$WORK/$1.cmp")" | tee -a "$RESULTS"
  [ $rc -eq 0 ] || { FAILED=1; head -20 "$WORK/$1.cmp.err" >&2; }
}

has() { [[ " $STEPS " == *" $1 "* ]]; }

# start_sim NAME CMD...: starts a simulator with its stdout on a FIFO, reads its environment line and "ready";
# sets SIM_PID and SIM_ENV. Its peak memory is measured by /usr/bin/time as well (written when it ends).
start_sim() {
  local name=$1
  shift
  rm -f "$WORK/$name.fifo" && mkfifo "$WORK/$name.fifo"
  /usr/bin/time -v -o "$WORK/$name.time" "$@" </dev/null >"$WORK/$name.fifo" 2>"$WORK/$name.log" &
  SIM_PID=$!
  SIM_ENV=
  while read -r line; do
    case "$line" in CONTACT_MOVER_ADB_TCP=* | USBMUXD_SOCKET_ADDRESS=*) SIM_ENV=$line ;; ready) break ;; esac
  done <"$WORK/$name.fifo"
  cat "$WORK/$name.fifo" >/dev/null &
}
# stop_sim NAME: ends the simulator with SIGTERM (it writes its store before it goes) and records its memory.
stop_sim() {
  local name=$1 child
  child=$(pgrep -P "$SIM_PID" | head -1)
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null
  wait "$SIM_PID" 2>/dev/null
  local rss
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/$name.time")
  printf '%-16s simulator peak RSS %6d MB\n' "  $name" $((${rss:-0} / 1024)) | tee -a "$RESULTS"
}

echo "load test: $N contacts, work folder $WORK, load average $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$RESULTS"

if has gen || [ ! -f "$VCF" ]; then
  step gen "$ROOT/$BUILD/bench/vcard-bench-gen" --mixed "$VCF" "$N"
fi
SIZE=$(stat -c %s "$VCF")
echo "file: $((SIZE / 1000000)) MB" | tee -a "$RESULTS"

if has import; then
  rm -rf "$HOMEDIR" && mkdir -p "$HOMEDIR"
  step import env HOME="$HOMEDIR" "$CLI" import "$VCF" --format vcf --db "$DB"
  LIMIT_KB=$((SIZE * 3 / 1024 + 100 * 1024))
  if [ "$STEP_RSS_KB" -lt "$LIMIT_KB" ]; then verdict=within; else verdict=OVER; FAILED=1; fi
  echo "  import peak RSS $((STEP_RSS_KB / 1024)) MB, limit (3 x file + 100 MB) $((LIMIT_KB / 1024)) MB: $verdict" |
    tee -a "$RESULTS"
fi

if has merge; then
  # The same file again into the database that holds it: every contact meets its namesake and is merged; the
  # listing after it must still match the file (nothing doubled, nothing lost).
  step merge env HOME="$HOMEDIR" "$CLI" import "$VCF" --format vcf --db "$DB"
fi

if has dbs; then
  # Counting is SQL: milliseconds and little memory however large the database.
  step dbs env HOME="$HOMEDIR" "$CLI" dbs
  echo "  dbs: $(tr '\t' ' ' <"$WORK/dbs.out" | tr '\n' ' ')" | tee -a "$RESULTS"
fi

if has list; then
  step list env HOME="$HOMEDIR" "$CLI" list --db "$DB" --json
  check list list-json "$WORK/list.out"
fi

if has search; then
  # Keywords: part of a family name (lower case), a phone number piece, an e-mail domain in another case, a
  # non-ASCII given name, digits found in names, numbers, e-mail addresses and web addresses alike.
  for word in kowalski "555 01" WORK.EXAMPLE "Zoë" 4242; do
    tag=search-$(echo "$word" | tr -c 'A-Za-z0-9\n' '_')
    step "$tag" env HOME="$HOMEDIR" "$CLI" list --db "$DB" --keyword "$word" --json
    found=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))))' "$WORK/$tag.out" 2>/dev/null)
    expected=$("${COMPARE[@]}" "$VCF" keyword "$word")
    if [ -n "$found" ] && [ "$found" = "$expected" ]; then verdict=same; else verdict=DIFFERENT; FAILED=1; fi
    printf '  %-14s keyword "%s": found %s, expected %s: %s\n' "$tag" "$word" "$found" "$expected" "$verdict" |
      tee -a "$RESULTS"
  done
fi

if has export; then
  step export-vcf env HOME="$HOMEDIR" "$CLI" export --db "$DB" --format vcf "$WORK/export.vcf"
  check export-vcf vcf "$WORK/export.vcf"
  step export-csv env HOME="$HOMEDIR" "$CLI" export --db "$DB" --format csv "$WORK/export.csv"
  check export-csv csv "$WORK/export.csv"
fi

if has phone; then
  rm -f "$WORK/phone.json"
  start_sim phone "$ROOT/$BUILD/tools/phone-sim/phone-sim" --name "Load Phone" --serial LOAD0001 --adb-port 0 \
    --store "$WORK/phone.json"
  serial=${SIM_ENV#CONTACT_MOVER_ADB_TCP=}
  step phone-transfer env HOME="$HOMEDIR" "$SIM_ENV" "$CLI" transfer --db "$DB" --to "$serial"
  stop_sim phone
  check phone-store phone-store "$WORK/phone.json"
fi

if has iphone; then
  rm -f "$WORK/iphone.json"
  UDID=00008030-00000000000A0D01
  start_sim iphone "$ROOT/$BUILD/tools/iphone-sim/iphone-sim" --socket "$WORK/mux.sock" --udid "$UDID" \
    --name "Load iPhone" --store "$WORK/iphone.json"
  step iphone-transfer env HOME="$HOMEDIR" "$SIM_ENV" "$CLI" transfer --db "$DB" --to "$UDID"
  stop_sim iphone
  check iphone-store iphone-store "$WORK/iphone.json"
fi

echo "results: $RESULTS"
[ "$FAILED" -eq 0 ] && echo "load test passed" || echo "load test FAILED"
exit "$FAILED"
