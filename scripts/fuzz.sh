#!/usr/bin/env bash
# Long fuzzing runs with libFuzzer: installs clang and its runtime when missing, configures build-fuzz with clang
# (every library instrumented, AddressSanitizer and UBSan on), builds the targets and runs them one after another,
# niced, each for the given number of seconds. New inputs go to build-fuzz/fuzz/work/<target>/, crashes to
# build-fuzz/fuzz/work/<target>/crash-*; the seed corpus in fuzz/corpus/ is only read.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default: 600 seconds, every target (names without "fuzz_")
#   scripts/fuzz.sh --build-only
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
build_only=0
if [ "${1:-}" = "--build-only" ]; then build_only=1; shift; fi
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi

scripts/deps.sh
need=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}" CCACHE_BASEDIR="$PWD"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCONTACT_MOVER_FUZZ=ON >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do t=$(basename "$f" .cpp); targets+=("${t#fuzz_}"); done
fi
nice cmake --build build-fuzz -j1 --target "${targets[@]/#/fuzz_}"
[ $build_only -eq 1 ] && exit 0

status=0
for t in "${targets[@]}"; do
  work=build-fuzz/fuzz/work/$t
  mkdir -p "$work"
  echo "== fuzz_$t: $seconds s" >&2
  # A dictionary (fuzz/dict/<target>.dict) steers the mutations toward deep nesting and many properties.
  dict=()
  if [ -f "fuzz/dict/$t.dict" ]; then dict=(-dict="fuzz/dict/$t.dict"); fi
  if [ "$t" = iosrecords ]; then dict=(-dict=fuzz/dict/plist.dict); fi
  # One job at a time; -timeout flags inputs that hang, -rss_limit_mb inputs that eat the memory.
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
      nice -n 15 "build-fuzz/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
      -print_final_stats=1 -artifact_prefix="$work/" "$work" "fuzz/corpus/$t" 2>"$work/log.txt"; then
    echo "fuzz_$t: FAILED, see $work/log.txt and $work/crash-*" >&2
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "$work/log.txt" >&2 || true
done
exit $status
