#!/usr/bin/env bash
# Installs what the benchmarks need, builds them and runs them; prints every figure of bench/README.md with
# the ratio to its reference, each pair measured side by side in the same run.
#
#   scripts/bench.sh [SECTION...]      SECTION: parse import localdb phone phonewait iphone startup itunes
#                                      (default: all but itunes, iphone and phonewait)
#
# Environment: BUILD (default build-bench), RUNS (rounds of the whole-process timings, default 3; the median
# is reported), CONTACTS (contacts of the vCard file, default 100000), DB_CONTACTS (contacts of the database
# benchmarks, default 50000), PHONE_CONTACTS (default 10000), STARTUP_DBS and STARTUP_CONTACTS (local databases
# present at start-up and their contacts, default 50 and 1000), WORK (folder for the generated files, default a temporary one),
# CLI (the contact-mover-cli under test in the device sections, default the one built here: a copy of an older
# build gives its figures beside today's), CLI_BEFORE (phonewait: an older build run in the same rounds).
# The comparison libraries (KContacts, libebook) and Google Benchmark are needed here only: the normal build
# and scripts/test.sh never use them.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-bench}
RUNS=${RUNS:-3}
CONTACTS=${CONTACTS:-100000}
DB_CONTACTS=${DB_CONTACTS:-50000}
PHONE_CONTACTS=${PHONE_CONTACTS:-10000}
STARTUP_DBS=${STARTUP_DBS:-50}
STARTUP_CONTACTS=${STARTUP_CONTACTS:-1000}
SECTIONS=("$@")
[ ${#SECTIONS[@]} -gt 0 ] || SECTIONS=(parse import localdb phone startup)
if [ -z "${WORK:-}" ]; then
  WORK=$(mktemp -d)
  trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"

# --- packages and build (NO_BUILD=1 skips both, to run again what is built) ---------------------------------
if [ -z "${NO_BUILD:-}" ]; then
scripts/deps.sh
bench_packages=(libbenchmark-dev libkf5contacts-dev libebook1.2-dev sqlite3 python3 time)
missing=()
for p in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- build ---------------------------------------------------------------------------------------------------
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCONTACT_MOVER_BENCH=ON >/dev/null
targets=(vcard-bench-gen vcard-parse-run vcard-import-run bench_localdb)
[[ " ${SECTIONS[*]} " == *" itunes "* ]] && targets+=(itunes-decrypt-run itunes-password-run backup-maker)
[[ " ${SECTIONS[*]} " == *" phone"* ]] && targets+=(contact-mover-cli phone-sim)
[[ " ${SECTIONS[*]} " == *" iphone "* ]] && targets+=(contact-mover-cli iphone-sim)
[[ " ${SECTIONS[*]} " == *" startup "* ]] && targets+=(startup-run)
cmake --build "$BUILD" -j1 --target "${targets[@]}" >/dev/null
PEERS="$BUILD/bench/peers"
mkdir -p "$PEERS"
# The peers are built outside the project: KContacts is a Qt 5 library, the project is Qt 6.
g++ -O2 -std=c++17 -fPIC bench/peers/kcontacts-parse.cpp -o "$PEERS/kcontacts-parse" \
  -I/usr/include/KF5/KContacts $(pkg-config --cflags --libs Qt5Core Qt5Gui) -lKF5Contacts
gcc -O2 -Wno-deprecated-declarations bench/peers/ebook-parse.c -o "$PEERS/ebook-parse" \
  $(pkg-config --cflags --libs libebook-contacts-1.2)
fi
PEERS="$BUILD/bench/peers"
CLI=${CLI:-$BUILD/src/cli/contact-mover-cli}

# --- helpers -------------------------------------------------------------------------------------------------
# run_once CMD: "WALL_MS CPU_MS MAXRSS_KB" of one run (CPU = user + system of the command and its children).
run_once() {
  /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" bash -c "$1" >/dev/null 2>&1
  awk '{ printf "%d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4 }' "$WORK/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# interleaved NAME1 'CMD1' NAME2 'CMD2' ...: RUNS rounds, each running every command once in turn, so that load
# from other work falls on all of them alike; sets WALL, CPU and RSS of each NAME to the medians.
declare -A WALL CPU RSS
interleaved() {
  local -a names=() cmds=()
  while [ $# -gt 0 ]; do names+=("$1"); cmds+=("$2"); shift 2; done
  for n in "${names[@]}"; do : >"$WORK/$n.runs"; done
  for _ in $(seq "$RUNS"); do
    for i in "${!names[@]}"; do
      run_once "${cmds[$i]}" >>"$WORK/${names[$i]}.runs"
    done
  done
  for n in "${names[@]}"; do
    WALL[$n]=$(cut -d' ' -f1 "$WORK/$n.runs" | median)
    CPU[$n]=$(cut -d' ' -f2 "$WORK/$n.runs" | median)
    RSS[$n]=$(cut -d' ' -f3 "$WORK/$n.runs" | median)
  done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# plain_storage VCF: "WALL_MS CPU_MS" of LocalDb's plain inserts of the file's contacts (the storing alone).
plain_storage() {
  rm -f "$WORK/store.db"
  "$BUILD/bench/vcard-import-run" --plain "$1" "$WORK/store.db" |
    awk '/^[0-9.]+ s$/ { w = $1 } /^cpu / { c = $2 } END { printf "%d %d\n", w * 1000, c * 1000 }'
}
# start_phone NAME [SEED]: a phone-sim with an empty store (or one seeded from SEED); sets PHONE_PID, PHONE_ENV.
start_phone() {
  rm -f "$WORK/$1.json" "$WORK/$1.fifo"
  mkfifo "$WORK/$1.fifo"
  "$BUILD/tools/phone-sim/phone-sim" --name "Bench $1" --serial "BENCH$1" --adb-port 0 --store "$WORK/$1.json" \
    ${2:+--seed "$2"} >"$WORK/$1.fifo" 2>"$WORK/$1.log" &
  PHONE_PID=$!
  PHONE_ENV=
  while read -r line; do
    case "$line" in CONTACT_MOVER_ADB_TCP=*) PHONE_ENV=$line ;; ready) break ;; esac
  done <"$WORK/$1.fifo"
  cat "$WORK/$1.fifo" >/dev/null &
}
stop_phone() { kill "$PHONE_PID" 2>/dev/null; wait "$PHONE_PID" 2>/dev/null || true; }
# medians_of NAME: WALL, CPU and RSS of NAME from its runs file.
medians_of() {
  WALL[$1]=$(cut -d' ' -f1 "$WORK/$1.runs" | median); CPU[$1]=$(cut -d' ' -f2 "$WORK/$1.runs" | median)
  RSS[$1]=$(cut -d' ' -f3 "$WORK/$1.runs" | median)
}
row() { # row LABEL NAME [REF]
  local line
  line=$(printf '%-28s wall %7d ms  cpu %7d ms  max RSS %5d MB' "$1" "${WALL[$2]}" "${CPU[$2]}" $((RSS[$2] / 1024)))
  if [ -n "${3:-}" ]; then
    line+=$(printf '   ratio wall %s cpu %s rss %s' "$(ratio "${WALL[$2]}" "${WALL[$3]}")" \
      "$(ratio "${CPU[$2]}" "${CPU[$3]}")" "$(ratio "${RSS[$2]}" "${RSS[$3]}")")
  fi
  echo "$line"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); runs: $RUNS (median)"
VCF="$WORK/mixed$CONTACTS.vcf"
[ -f "$VCF" ] || "$BUILD/bench/vcard-bench-gen" --mixed "$VCF" "$CONTACTS"
echo "file: $CONTACTS contacts, $(($(stat -c %s "$VCF") / 1000000)) MB, sha256 $(sha256sum "$VCF" | cut -c1-16)"

for section in "${SECTIONS[@]}"; do
  case "$section" in
  parse)
    echo "== vCard parse of the whole file into contacts (all kept)"
    cat "$VCF" >/dev/null
    interleaved ours "'$BUILD/bench/vcard-parse-run' '$VCF'" \
                kcontacts "'$PEERS/kcontacts-parse' '$VCF'" \
                ebook "'$PEERS/ebook-parse' '$VCF'"
    row "contact mover" ours
    row "KContacts" kcontacts ours
    row "libebook" ebook ours
    ;;
  import)
    echo "== vCard import (parse + merge-save) into an empty database, whole process"
    interleaved import "rm -f '$WORK/import.db'; '$BUILD/bench/vcard-import-run' '$VCF' '$WORK/import.db'"
    row "import worker" import
    limit=$(($(stat -c %s "$VCF") * 3 / 1024 + 100 * 1024))
    echo "peak memory limit (3 x file + 100 MB): $((limit / 1024)) MB -> $([ "${RSS[import]}" -lt "$limit" ] && echo within || echo OVER)"
    ;;
  localdb)
    echo "== local database, $DB_CONTACTS contacts (Google Benchmark, medians of $RUNS, interleaved)"
    BENCH_CONTACTS=$DB_CONTACTS "$BUILD/bench/bench_localdb" --benchmark_repetitions="$RUNS" \
      --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
      --benchmark_out="$WORK/localdb.json" --benchmark_out_format=json >/dev/null
    python3 - "$WORK/localdb.json" <<'EOF'
import json, sys
# The medians of the repetitions (with one repetition, the run itself).
entries = json.load(open(sys.argv[1]))["benchmarks"]
medians = [b for b in entries if b.get("aggregate_name") == "median"]
runs = {b["run_name"].split("/")[0]: b for b in (medians or entries)}
def ms(name, key):
    return runs[name][key] * {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[runs[name]["time_unit"]]
def cpu(name):
    # The shell's CPU time is its own process's, reported as a counter.
    return runs[name].get("shell_cpu_ms", ms(name, "cpu_time"))
for label, name, ref in [
        ("merge-save into a full database", "BM_MergeSaveIntoFull", "BM_MergeSaveIntoEmpty"),
        ("merge-save of namesakes", "BM_MergeSaveNamesakes", "BM_MergeSaveIntoEmpty"),
        ("import worker into empty db", "BM_ImportWorkerIntoEmpty", "BM_PlainInsertIntoEmpty"),
        ("merge-save into empty db", "BM_MergeSaveIntoEmpty", "BM_PlainInsertIntoEmpty"),
        ("list all contacts", "BM_ListAll", "BM_ShellListAll"),
        ("keyword search", "BM_Search", "BM_ShellSearch")]:
    print(f"{label:32} wall {ms(name, 'real_time'):8.0f} ms cpu {cpu(name):8.0f} ms | {ref:24} wall "
          f"{ms(ref, 'real_time'):8.0f} ms cpu {cpu(ref):8.0f} ms | ratio wall "
          f"{ms(name, 'real_time') / ms(ref, 'real_time'):.2f} cpu {cpu(name) / cpu(ref):.2f}")
EOF
    ;;
  phone)
    echo "== phone-sim: loading $PHONE_CONTACTS contacts from it and transferring $PHONE_CONTACTS to it"
    PHONE_VCF="$WORK/phone$PHONE_CONTACTS.vcf"
    [ -f "$PHONE_VCF" ] || "$BUILD/bench/vcard-bench-gen" --mixed "$PHONE_VCF" "$PHONE_CONTACTS"
    HOMEDIR="$WORK/home"
    rm -rf "$HOMEDIR" && mkdir -p "$HOMEDIR"
    HOME="$HOMEDIR" "$CLI" import "$PHONE_VCF" --format vcf --db Bench >/dev/null 2>&1
    start_phone load "$PHONE_VCF"
    LOAD_ENV=$PHONE_ENV
    # The first load installs the companion app: not one of the rounds.
    HOME="$HOMEDIR" env $LOAD_ENV "$CLI" devices >/dev/null 2>&1
    : >"$WORK/load.runs"; : >"$WORK/transfer.runs"; : >"$WORK/store.runs"
    for _ in $(seq "$RUNS"); do
      run_once "HOME='$HOMEDIR' $LOAD_ENV '$CLI' devices" >>"$WORK/load.runs"
      LOAD_PID=$PHONE_PID
      start_phone empty
      serial=${PHONE_ENV#CONTACT_MOVER_ADB_TCP=}
      # The companion app is installed (and the phone's empty contacts read) before the timed transfer.
      HOME="$HOMEDIR" env $PHONE_ENV "$CLI" devices >/dev/null 2>&1
      run_once "HOME='$HOMEDIR' $PHONE_ENV '$CLI' transfer --db Bench --to $serial" >>"$WORK/transfer.runs"
      stop_phone
      PHONE_PID=$LOAD_PID
      plain_storage "$PHONE_VCF" >>"$WORK/store.runs"
    done
    stop_phone
    medians_of load; medians_of transfer
    store_wall=$(cut -d' ' -f1 "$WORK/store.runs" | median); store=$(cut -d' ' -f2 "$WORK/store.runs" | median)
    echo "LocalDb plain storage of the same rows (in-process): wall $store_wall ms, cpu $store ms"
    echo "$(row "load (cli devices)" load)   ratio to storage: cpu $(ratio "${CPU[load]}" "$store") wall $(ratio "${WALL[load]}" "$store_wall")"
    echo "$(row "transfer (cli transfer)" transfer)   ratio to storage: cpu $(ratio "${CPU[transfer]}" "$store") wall $(ratio "${WALL[transfer]}" "$store_wall")"
    ;;
  phonewait)
    # Each round: a fresh phone-sim with the contacts and without the app; the first load (installs the app and
    # starts its process cold) and a second load (app present). "prep" is the time from the first progress line
    # to "Backing up": the install, the app's start and the session start, which is where the pauses were.
    # CLI_BEFORE names an older build to run in the same rounds.
    echo "== phone-sim: the waits for the phone, $PHONE_CONTACTS contacts${CONTACT_MOVER_ANDROID_PAUSE_MS:+, pauses ${CONTACT_MOVER_ANDROID_PAUSE_MS} ms}"
    PHONE_VCF="$WORK/phone$PHONE_CONTACTS.vcf"
    [ -f "$PHONE_VCF" ] || "$BUILD/bench/vcard-bench-gen" --mixed "$PHONE_VCF" "$PHONE_CONTACTS"
    HOMEDIR="$WORK/wait-home"
    # stamped_once CMD: "WALL_MS CPU_MS MAXRSS_KB PREP_MS" of one run, its progress lines stamped as they come.
    stamped_once() {
      /usr/bin/time -f '%e %U %S %M' -o "$WORK/time" bash -c "$1" 2>&1 |
        while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$WORK/stamped"
      prep=$(awk '/Checking and installing/ && !a { a = $1 } /Backing up Contacts/ && !b { b = $1 }
                  END { printf "%d", (a && b ? (b - a) * 1000 : -1) }' "$WORK/stamped")
      awk -v p="$prep" '{ printf "%d %d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4, p }' "$WORK/time"
    }
    contenders=("$CLI")
    [ -n "${CLI_BEFORE:-}" ] && contenders=("$CLI_BEFORE" "$CLI")
    for c in "${!contenders[@]}"; do : >"$WORK/first$c.runs"; : >"$WORK/next$c.runs"; done
    for _ in $(seq "$RUNS"); do
      for c in "${!contenders[@]}"; do
        rm -rf "$HOMEDIR" && mkdir -p "$HOMEDIR"
        start_phone wait "$PHONE_VCF"
        stamped_once "HOME='$HOMEDIR' $PHONE_ENV '${contenders[$c]}' devices" >>"$WORK/first$c.runs"
        stamped_once "HOME='$HOMEDIR' $PHONE_ENV '${contenders[$c]}' devices" >>"$WORK/next$c.runs"
        stop_phone
      done
    done
    for c in "${!contenders[@]}"; do
      echo "${contenders[$c]}:"
      for n in first$c next$c; do
        medians_of "$n"
        prep=$(cut -d' ' -f4 "$WORK/$n.runs" | median)
        echo "$(row "${n%[0-9]} load" "$n")  prep $prep ms"
      done
    done
    ;;
  iphone)
    echo "== iphone-sim: loading $PHONE_CONTACTS contacts from it"
    PHONE_VCF="$WORK/phone$PHONE_CONTACTS.vcf"
    [ -f "$PHONE_VCF" ] || "$BUILD/bench/vcard-bench-gen" --mixed "$PHONE_VCF" "$PHONE_CONTACTS"
    HOMEDIR="$WORK/ios-home"
    rm -rf "$HOMEDIR" && mkdir -p "$HOMEDIR"
    UDID=00008030-001A2B3C4D5E6F70
    # The seeded store is kept in WORK: seeding 10,000 contacts takes the simulator minutes.
    rm -f "$WORK/ios.fifo" && mkfifo "$WORK/ios.fifo"
    "$BUILD/tools/iphone-sim/iphone-sim" --socket "$WORK/ios.sock" --udid "$UDID" --name Bench \
      --store "$WORK/ios$PHONE_CONTACTS.json" --seed "$PHONE_VCF" </dev/null >"$WORK/ios.fifo" 2>"$WORK/ios.log" &
    IOS_PID=$!
    IOS_ENV=
    while read -r line; do
      case "$line" in USBMUXD_SOCKET_ADDRESS=*) IOS_ENV=$line ;; ready) break ;; esac
    done <"$WORK/ios.fifo"
    cat "$WORK/ios.fifo" >/dev/null &
    : >"$WORK/iosload.runs"; : >"$WORK/store.runs"
    for _ in $(seq "$RUNS"); do
      run_once "HOME='$HOMEDIR' $IOS_ENV '$CLI' list --device $UDID --json" >>"$WORK/iosload.runs"
      plain_storage "$PHONE_VCF" >>"$WORK/store.runs"
    done
    kill "$IOS_PID" 2>/dev/null; wait "$IOS_PID" 2>/dev/null || true
    medians_of iosload
    store_wall=$(cut -d' ' -f1 "$WORK/store.runs" | median); store=$(cut -d' ' -f2 "$WORK/store.runs" | median)
    echo "LocalDb plain storage of the same rows (in-process): wall $store_wall ms, cpu $store ms"
    echo "$(row "load (cli list --device)" iosload)   ratio to storage: cpu $(ratio "${CPU[iosload]}" "$store") wall $(ratio "${WALL[iosload]}" "$store_wall")"
    ;;
  startup)
    echo "== start-up to the window's first paint, $STARTUP_DBS local databases of $STARTUP_CONTACTS contacts"
    HOMEDIR="$WORK/startup-home"
    if [ ! -d "$HOMEDIR" ]; then
      mkdir -p "$HOMEDIR"
      HOME="$HOMEDIR" QT_QPA_PLATFORM=offscreen "$BUILD/bench/startup-run" --prepare "$STARTUP_DBS" "$STARTUP_CONTACTS" >/dev/null
    fi
    interleaved window "HOME='$HOMEDIR' QT_QPA_PLATFORM=offscreen '$BUILD/bench/startup-run'" \
                bare "HOME='$HOMEDIR' QT_QPA_PLATFORM=offscreen '$BUILD/bench/startup-run' --bare"
    row "bare QMainWindow" bare
    row "main window" window bare
    ;;
  itunes)
    RUNS=$RUNS bench/itunes/bench.sh "$BUILD"
    ;;
  *)
    echo "unknown section $section" >&2
    exit 2
    ;;
  esac
done
