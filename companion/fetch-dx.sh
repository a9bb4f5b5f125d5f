#!/usr/bin/env bash
# Takes the class-to-dex compiler (dx 1.11, packages com/android/dx and com/android/dex) out of Debian's
# libgradle-android-plugin-java without installing that package (it would pull in ~130 others), and writes it
# to the jar given as $1. Needs apt-get, dpkg-deb and unzip/jar; network only through apt.
set -euo pipefail
out=${1:?usage: fetch-dx.sh OUTPUT.jar}
[ -s "$out" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# apt-get download writes as the _apt user when it can; a folder it may write to avoids a warning.
chmod 777 "$work"
apt-get download libgradle-android-plugin-java >/dev/null 2>&1 || { apt-get update -qq && apt-get download libgradle-android-plugin-java >/dev/null; }
dpkg-deb -x libgradle-android-plugin-java_*.deb pkg
builder=$(ls pkg/usr/share/java/com.android.tools.build.builder-*.jar | head -n1)
mkdir classes
(cd classes && unzip -q "../$builder" 'com/android/dx/*' 'com/android/dex/*')
mkdir -p "$(dirname "$out")"
(cd classes && jar --create --file "$work/dx.jar" --date=1980-01-01T00:00:02Z .)
mv "$work/dx.jar" "$out"
echo "dx: wrote $out" >&2
