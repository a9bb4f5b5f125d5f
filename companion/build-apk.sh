#!/usr/bin/env bash
# Builds the companion app from this folder into a signed, aligned package, reproducibly:
#   build-apk.sh OUTPUT.apk [WORKDIR]
# javac --release 7 against the compile-only stand-ins in stubs/ (never packaged), dx, aapt with Debian's
# framework-res.apk, zipalign and apksigner. The same sources and key give the same bytes.
# Environment: COMPANION_DX_JAR (else the usual places, see find_dx), COMPANION_KEYSTORE & co. for a release
# key (signing/README.md), COMPANION_UPDATE_MEMBERS=1 to rewrite platform-members.txt after a review.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: build-apk.sh OUTPUT.apk [WORKDIR]}
work=${2:-$(dirname "$out")/companion-build}
framework=/usr/share/android-framework-res/framework-res.apk
guava=/usr/share/java/guava.jar
min_sdk=21
# The platform level of Debian's framework-res.apk: aapt refuses attributes and values newer than it.
target_sdk=29
version_code=$(sed -n 's/^code=//p' "$here/version.txt")
version_name=$(sed -n 's/^name=//p' "$here/version.txt")

fail() { echo "build-apk: $*" >&2; exit 1; }

find_dx() {
  for j in "${COMPANION_DX_JAR:-}" /usr/local/lib/contact-mover/dx.jar "${HOME:-/nonexistent}/.cache/contact-mover/dx.jar"; do
    [ -n "$j" ] && [ -s "$j" ] && { echo "$j"; return; }
  done
  fail "dx.jar not found: run scripts/deps.sh (or companion/fetch-dx.sh FILE and set COMPANION_DX_JAR)"
}

for tool in javac java aapt zipalign apksigner dexdump python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
[ -f "$framework" ] || fail "$framework is missing: run scripts/deps.sh"
dx=$(find_dx)

rm -rf "$work"
mkdir -p "$work"/{gen,stub-classes,classes}
export LC_ALL=C TZ=UTC

# 1. Manifest and resources; R.java for the code.
aapt package -f -m -J "$work/gen" -M "$here/AndroidManifest.xml" -S "$here/res" -I "$framework" \
  --min-sdk-version $min_sdk --target-sdk-version $target_sdk \
  --version-code "$version_code" --version-name "$version_name" -F "$work/resources.apk"

# 2. Java 7 classes: the stand-ins on their own, the app against them.
find "$here/stubs" -name '*.java' | sort > "$work/stubs.txt"
javac -nowarn -Xlint:-options --release 7 -encoding UTF-8 -d "$work/stub-classes" @"$work/stubs.txt"
{ find "$here/src" -name '*.java'; find "$work/gen" -name '*.java'; } | sort > "$work/sources.txt"
javac -Xlint:-options --release 7 -encoding UTF-8 -g:source,lines -cp "$work/stub-classes" \
  -d "$work/classes" @"$work/sources.txt"
if [ -n "$(find "$work/classes" -path '*/android/*' -name '*.class')" ]; then
  fail "a platform stand-in landed among the app's classes"
fi

# 3. Dex, from a jar with its entries in a fixed order.
python3 "$here/tools/zipdir.py" "$work/classes" "$work/classes.jar"
java -cp "$dx:$guava" com.android.dx.command.Main --dex --output="$work/classes.dex" "$work/classes.jar"
if dexdump "$work/classes.dex" | grep -E "Class descriptor *: 'L(android|java|javax|dalvik)/" >/dev/null; then
  fail "classes.dex holds a platform class (a stand-in was packaged)"
fi

# 4. The platform members the dex uses must be the reviewed ones.
dexdump -d "$work/classes.dex" > "$work/classes.dump"
python3 "$here/tools/platform-members.py" "$work/classes.dump" > "$work/platform-members.txt"
if [ "${COMPANION_UPDATE_MEMBERS:-0}" = 1 ]; then
  cp "$work/platform-members.txt" "$here/platform-members.txt"
elif ! diff -u "$here/platform-members.txt" "$work/platform-members.txt" >&2; then
  fail "the platform members the app uses changed (diff above): check each new one against the API reference" \
       "(signature and API level), then rebuild with COMPANION_UPDATE_MEMBERS=1"
fi

# 5. One zip, entries sorted, fixed times, resources.arsc stored; then align and sign.
python3 "$here/tools/zipdir.py" --merge "$work/resources.apk" "$work/classes.dex" "$work/unaligned.apk"
zipalign -f -p 4 "$work/unaligned.apk" "$work/aligned.apk"
if [ -n "${COMPANION_KEYSTORE:-}" ]; then
  ks=$COMPANION_KEYSTORE
  ks_pass=${COMPANION_KEYSTORE_PASS:?COMPANION_KEYSTORE_PASS is not set}
  key_pass=${COMPANION_KEY_PASS:-$ks_pass}
  alias=${COMPANION_KEY_ALIAS:?COMPANION_KEY_ALIAS is not set}
else
  ks=$here/signing/development.p12 ks_pass=development-only key_pass=development-only alias=development
fi
KS_PASS=$ks_pass KEY_PASS=$key_pass apksigner sign --ks "$ks" --ks-pass env:KS_PASS --key-pass env:KEY_PASS \
  --ks-key-alias "$alias" --v1-signing-enabled true --v2-signing-enabled true --v3-signing-enabled true \
  --out "$work/signed.apk" "$work/aligned.apk"
mkdir -p "$(dirname "$out")"
cp "$work/classes.dex" "$(dirname "$out")/companion-classes.dex"
mv "$work/signed.apk" "$out"
rm -f "$out.idsig"
