#!/usr/bin/env bash
# The backup reader against OpenSSL's own tools, in the same run:
#  1. deciphering a 200 MB stored file: itunes-decrypt-run vs `openssl enc -d -aes-256-cbc` (outputs compared);
#  2. the password check at real iteration counts (PBKDF2-HMAC-SHA256 x 10,000,000, then PBKDF2-HMAC-SHA1 x
#     10,000): itunes-password-run on hashcat's mode-14800 example vs `openssl kdf` and Python's hashlib doing the
#     same two derivations; and setPassword on a backup-maker backup with the same counts.
# Each figure is the best of RUNS rounds (wall time, warm page cache); in each round the contenders run in turn.
# Usage: bench/itunes/bench.sh [BUILD_DIR]     (default build-bench, configured with -DCONTACT_MOVER_BENCH=ON)
set -euo pipefail
BUILD=${1:-build-bench}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-200}
DECRYPT="$BUILD/bench/itunes/itunes-decrypt-run"
PASSWORD="$BUILD/bench/itunes/itunes-password-run"
MAKER="$BUILD/tools/backup-maker/backup-maker"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# run_once CMD: "WALL_MS CPU_MS" of one run (CPU = user + system, of the command and its children).
run_once() {
  /usr/bin/time -f '%e %U %S' -o "$WORK/time" bash -c "$1" >/dev/null
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' "$WORK/time"
}
# interleaved NAME1 'CMD1' NAME2 'CMD2' ...: RUNS rounds, each running every command once in turn (so that load
# from other work on the machine falls on all of them alike); sets WALL[NAME] and CPU[NAME] to the best times.
declare -A WALL CPU
interleaved() {
  local -a names=() cmds=()
  while [ $# -gt 0 ]; do names+=("$1"); cmds+=("$2"); shift 2; done
  for n in "${names[@]}"; do WALL[$n]=; CPU[$n]=; done
  for _ in $(seq "$RUNS"); do
    for i in "${!names[@]}"; do
      local n=${names[$i]} w c
      read -r w c < <(run_once "${cmds[$i]}")
      if [ -z "${WALL[$n]}" ] || [ "$w" -lt "${WALL[$n]}" ]; then WALL[$n]=$w; fi
      if [ -z "${CPU[$n]}" ] || [ "$c" -lt "${CPU[$n]}" ]; then CPU[$n]=$c; fi
    done
  done
}
# row LABEL NAME [REF]: the best wall and CPU times of NAME, with the ratios to REF.
row() {
  local line
  line=$(printf '%-26s wall %6d ms  cpu %6d ms' "$1" "${WALL[$2]}" "${CPU[$2]}")
  if [ -n "${3:-}" ]; then
    line+=$(printf '   ratio wall %s  cpu %s' "$(ratio "${WALL[$2]}" "${WALL[$3]}")" "$(ratio "${CPU[$2]}" "${CPU[$3]}")")
  fi
  echo "$line"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== deciphering a ${SIZE_MB} MB stored file (AES-256-CBC, zero IV, PKCS#7)"
KEY=$(openssl rand -hex 32)
IV=00000000000000000000000000000000
head -c "${SIZE_MB}M" /dev/urandom >"$WORK/plain"
openssl enc -aes-256-cbc -K "$KEY" -iv "$IV" -in "$WORK/plain" -out "$WORK/cipher"
cat "$WORK/cipher" >/dev/null
interleaved ours "'$DECRYPT' $KEY '$WORK/cipher' '$WORK/ours'" \
            ref "openssl enc -d -aes-256-cbc -K $KEY -iv $IV -in '$WORK/cipher' -out '$WORK/ref'"
cmp "$WORK/ours" "$WORK/plain"
cmp "$WORK/ref" "$WORK/plain"
row "openssl enc -d" ref
row "itunes-decrypt-run" ours ref
rm -f "$WORK/plain" "$WORK/cipher" "$WORK/ours" "$WORK/ref"

echo "== password check: PBKDF2-HMAC-SHA256 x 10,000,000 then PBKDF2-HMAC-SHA1 x 10,000"
DPSL=425b4bb4e200b5fd4c66979c9caca31716052063
SALT=2353363784073608264337337723324886300850
OPENSSL_KDF="k=\$(openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt pass:hashcat -kdfopt hexsalt:$DPSL \
  -kdfopt iter:10000000 PBKDF2 | tr -d :); openssl kdf -keylen 32 -kdfopt digest:SHA1 -kdfopt hexpass:\$k \
  -kdfopt hexsalt:$SALT -kdfopt iter:10000 PBKDF2"
PYTHON_KDF="python3 -c \"import hashlib
k = hashlib.pbkdf2_hmac('sha256', b'hashcat', bytes.fromhex('$DPSL'), 10000000, 32)
print(hashlib.pbkdf2_hmac('sha1', k, bytes.fromhex('$SALT'), 10000, 32).hex())\""
interleaved ours "'$PASSWORD'" kdf "$OPENSSL_KDF" py "$PYTHON_KDF"
row "openssl kdf (2 steps)" kdf
row "python3 hashlib" py
row "itunes-password-run" ours kdf
row "  (against hashlib)" ours py

printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jane;;;\r\nFN:Jane Doe\r\nTEL;TYPE=CELL:+1 555 0100\r\nEND:VCARD\r\n' >"$WORK/seed.vcf"
"$MAKER" "$WORK/backup" --seed "$WORK/seed.vcf" --password hashcat --iterations 10000,10000000 >/dev/null
interleaved full "'$PASSWORD' '$WORK/backup' hashcat"
row "setPassword on a backup" full
