#!/usr/bin/env bash
# The README's demo, step by step, without the window: scripts/demo.sh sets up its simulated phones, iPhone and
# backup as for the window, and each "Things to try" step is done through contact-mover-cli on the same data
# folder and devices, checking what the README promises.
#   demo_test.sh REPO_DIR BUILD_DIR
set -euo pipefail
repo=$1
bin=$2
cli="$bin/src/cli/contact-mover-cli"
demo=$(mktemp -d /tmp/demo-test.XXXXXX)
demo_pid=

finish() {
  local status=$?
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  if [ $status -ne 0 ]; then
    echo "--- demo output" >&2
    cat "$demo/demo.out" >&2 || true
    for f in "$demo"/*.err; do echo "--- $f" >&2; tail -n 20 "$f" >&2; done
  fi
  rm -rf "$demo"
}
trap finish EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

DEMO_BUILD_DIR="$bin" "$repo/scripts/demo.sh" --no-build --no-window "$demo" >"$demo/demo.out" 2>"$demo/demo.err" &
demo_pid=$!
for _ in $(seq 600); do
  grep -q '^demo ready$' "$demo/demo.out" 2>/dev/null && break
  kill -0 "$demo_pid" 2>/dev/null || fail "demo.sh ended during its set-up"
  sleep 0.1
done
grep -q '^demo ready$' "$demo/demo.out" || fail "demo.sh did not get ready within 60 s"

# The window's environment, exactly as demo.sh gives it to the window.
set -a
# shellcheck disable=SC1091
. "$demo/demo.env"
set +a
# Short pauses after starting a session (the window keeps the real ones); over Wi-Fi the app opens its session
# port only after the request, so not none.
export CONTACT_MOVER_ANDROID_PAUSE_MS=300
pixel=$CONTACT_MOVER_ADB_TCP
udid=00008030-001A2B3C4D5E6F70

# The printed instructions name the Wi-Fi address and the backup's password.
grep -q 'address 127.0.0.1' "$demo/demo.out" || fail "the Wi-Fi address is not printed"
grep -q "its password is: $DEMO_PASSWORD" "$demo/demo.out" || fail "the backup's password is not printed"

# 1. The iPhone and the adb phone appear by themselves; each shows its contacts.
devices=$("$cli" devices 2>"$demo/step1.err")
grep -q "Demo iPhone" <<<"$devices" || fail "step 1: the iPhone is not listed: $devices"
grep -q "Pixel Demo" <<<"$devices" || fail "step 1: the adb phone is not listed: $devices"
! grep -q "Galaxy Demo" <<<"$devices" || fail "step 1: the Wi-Fi phone appeared by itself: $devices"
grep -q "Sofía García" <<<"$("$cli" list --device "$udid" 2>>"$demo/step1.err")" || fail "step 1: the iPhone's contacts"
grep -q "Jürgen Müller" <<<"$("$cli" list --device "$pixel" 2>>"$demo/step1.err")" || fail "step 1: the adb phone's contacts"

# 2. The second Android phone answers over Wi-Fi at 127.0.0.1 (its companion app was installed by the set-up).
wifi=$("$cli" list --device wifi:127.0.0.1 2>"$demo/step2.err") || fail "step 2: $(cat "$demo/step2.err")"
grep -q "Анна Petrova" <<<"$wifi" || fail "step 2: the Wi-Fi phone's contacts: $wifi"

# 3. iPhone to Android: "Dr. Amara Okafor", on both phones, is merged, not doubled.
"$cli" transfer --device "$udid" --to "$pixel" >"$demo/step3.out" 2>"$demo/step3.err" || fail "step 3: $(cat "$demo/step3.err")"
after=$("$cli" list --device "$pixel" 2>>"$demo/step3.err")
[ "$(grep -c "Dr. Amara Okafor" <<<"$after")" = 1 ] || fail "step 3: Amara is not on the phone exactly once: $after"
grep -q "Sofía García" <<<"$after" || fail "step 3: the iPhone's contacts did not arrive: $after"

# 4. The encrypted backup "Old iPhone" is listed and imports with the printed password into a new database.
grep -q "Old iPhone" <<<"$("$cli" itunes-backups 2>"$demo/step4.err")" || fail "step 4: the backup is not listed"
backup=$(ls -d "$HOME/Apple/MobileSync/Backup/"*)
printf '%s' "$DEMO_PASSWORD" >"$demo/password"
"$cli" itunes-import "$backup" --db "Old iPhone-backup" --password-file "$demo/password" >/dev/null 2>>"$demo/step4.err" \
  || fail "step 4: $(cat "$demo/step4.err")"
grep -q "Erik Svensson" <<<"$("$cli" list --db "Old iPhone-backup.db" 2>>"$demo/step4.err")" || fail "step 4: imported contacts"

# 5. Export of the database in every format.
for format in vcf csv txt html doc pdf; do
  out="$demo/export.$format"
  "$cli" export --db "Old iPhone-backup.db" --format "$format" "$out" >/dev/null 2>"$demo/step5.err" \
    || fail "step 5 ($format): $(cat "$demo/step5.err")"
  [ -s "$out" ] || fail "step 5: empty $format file"
done
grep -q "Erik Svensson" "$demo/export.vcf" || fail "step 5: the vCard export lacks the contacts"
# 6. Restore the database onto the adb phone, then undo: the phone holds what it held before the restore.
before6=$("$cli" list --device "$pixel" 2>"$demo/step6.err" | cut -f2- | sort)
"$cli" transfer --db "Old iPhone-backup.db" --to "$pixel" >/dev/null 2>>"$demo/step6.err" || fail "step 6: $(cat "$demo/step6.err")"
grep -q "Erik Svensson" <<<"$("$cli" list --device "$pixel" 2>>"$demo/step6.err")" || fail "step 6: the restore"
"$cli" undo --device "$pixel" >"$demo/step6.out" 2>>"$demo/step6.err" || fail "step 6 (undo): $(cat "$demo/step6.err")"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  after6=$("$cli" list --device "$pixel" 2>>"$demo/step6.err" | cut -f2- | sort)
  [ "$after6" = "$before6" ] && break
  sleep 1
done
[ "$after6" = "$before6" ] || fail "step 6: after the undo the phone holds $after6"
echo "demo steps 1-6 passed"
