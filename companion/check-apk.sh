#!/usr/bin/env bash
# Structural checks of a built companion package, without a phone:
#   check-apk.sh APK
# manifest (package, versions, SDK levels, permissions, components), signature (v1, v2, v3), 4-byte alignment
# with page-aligned native files, resources.arsc stored, no platform stand-in class in the dex, and the platform
# members the dex uses equal to the reviewed platform-members.txt.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
apk=${1:?usage: check-apk.sh APK}
export LC_ALL=C
status=0
bad() { echo "check-apk: $*" >&2; status=1; }
need() { grep -qF -- "$2" <<<"$1" || bad "missing: $2"; }

code=$(sed -n 's/^code=//p' "$here/version.txt")
name=$(sed -n 's/^name=//p' "$here/version.txt")

badging=$(aapt dump badging "$apk" 2>&1) || bad "aapt can not read the package: $badging"
need "$badging" "package: name='com.tallowbrook.contactssync' versionCode='$code' versionName='$name'"
need "$badging" "sdkVersion:'21'"
need "$badging" "launchable-activity: name='com.tallowbrook.contactssync.ContactsSync'"
target=$(sed -n "s/^targetSdkVersion:'\([0-9]*\)'/\1/p" <<<"$badging")
[ "${target:-0}" -ge 23 ] || bad "targetSdkVersion ${target:-none} is below 23: Android 14 refuses to install it"
permissions=$(sed -n "s/^uses-permission: name='\([^']*\)'.*/\1/p" <<<"$badging" | sort | tr '\n' ' ')
expected="android.permission.FOREGROUND_SERVICE android.permission.FOREGROUND_SERVICE_DATA_SYNC android.permission.INTERNET android.permission.READ_CONTACTS android.permission.WRITE_CONTACTS "
[ "$permissions" = "$expected" ] || bad "permissions are '$permissions', expected '$expected'"

# Components: exactly the activity, the exported receiver and the data-sync foreground service.
tree=$(aapt dump xmltree "$apk" AndroidManifest.xml 2>&1) || bad "no manifest tree: $tree"
components=$(python3 - "$tree" <<'PY'
import re, sys
out, cur = [], None
for line in sys.argv[1].splitlines():
    m = re.match(r"\s*E: (activity|receiver|service|provider|activity-alias)\b", line)
    if m:
        cur = {"kind": m.group(1)}
        out.append(cur)
        continue
    if re.match(r"\s*E: ", line):
        cur = None if not re.match(r"\s*E: (intent-filter|action|category)\b", line) else cur
        continue
    m = re.match(r'\s*A: android:(name|exported|foregroundServiceType)\(0x[0-9a-f]+\)=(?:\(type 0x[0-9a-f]+\))?"?([^"\s]*)', line)
    if m and cur is not None and m.group(1) not in cur:
        cur[m.group(1)] = m.group(2)
for c in out:
    print(c["kind"], c.get("name"), "exported=" + c.get("exported", "?"), "fgs=" + c.get("foregroundServiceType", "-"))
PY
)
want="activity .ContactsSync exported=0xffffffff fgs=-
receiver .AdbSyncBroadcastReceiver exported=0xffffffff fgs=-
service .SyncService exported=0x0 fgs=0x1"
[ "$components" = "$want" ] || bad "components are:
$components
expected:
$want"

verify=$(apksigner verify --verbose "$apk" 2>&1) || bad "apksigner verify failed: $verify"
for scheme in "v1 scheme (JAR signing): true" "v2 scheme (APK Signature Scheme v2): true" \
              "v3 scheme (APK Signature Scheme v3): true"; do
  need "$verify" "Verified using $scheme"
done
zipalign -c -p 4 "$apk" >/dev/null 2>&1 || bad "not aligned (zipalign -c -p 4)"
# The listing is taken whole first: with pipefail, grep -q leaving early would fail the pipe at random.
arsc=$(unzip -v "$apk" resources.arsc 2>/dev/null)
grep -q " Stored " <<<"$arsc" || bad "resources.arsc is compressed (Android 11+ refuses it)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q -o "$apk" classes.dex -d "$work" || bad "no classes.dex"
if [ -f "$work/classes.dex" ]; then
  dexdump "$work/classes.dex" > "$work/dump" 2>&1 || bad "dexdump can not read classes.dex"
  grep -E "Class descriptor *: 'L(android|java|javax|dalvik)/" "$work/dump" >&2 && bad "platform classes packaged"
  grep -q "Class descriptor *: 'Lcom/tallowbrook/contactssync/SyncSession;'" "$work/dump" || bad "the session code is not in the dex"
  dexdump -d "$work/classes.dex" > "$work/dump-d" 2>&1
  python3 "$here/tools/platform-members.py" "$work/dump-d" > "$work/members"
  diff -u "$here/platform-members.txt" "$work/members" >&2 || bad "platform members differ from platform-members.txt"
fi
[ $status = 0 ] && echo "check-apk: $apk passes"
exit $status
