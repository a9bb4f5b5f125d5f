#!/usr/bin/env bash
# Builds the .deb of a build tree and checks it as a user's machine would see it: its dependencies are packages
# this Debian knows (and has, since the program runs here), its files land where the desktop finds them, the menu
# entry is valid, and the unpacked programs start.
#   check-package.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"

fail() { echo "package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no .deb was made"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for wanted in libqt6widgets6 libqt6core6 libimobiledevice libsqlite3 qt6-qpa-plugins; do
  grep -q "$wanted" <<<"$depends" || fail "Depends lacks $wanted"
done
# Every named package must be one dpkg knows as installed here (the program runs on this machine).
IFS=',' read -ra alternatives <<<"$depends"
for entry in "${alternatives[@]}"; do
  name=$(sed -E 's/^ *([^ (|]+).*/\1/' <<<"$entry")
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || fail "$name is not a package of this system"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/contact-mover usr/bin/contact-mover-cli usr/share/applications/tallowbrook-contact-mover.desktop \
         usr/share/icons/hicolor/256x256/apps/tallowbrook-contact-mover.png; do
  [ -e "$root/$f" ] || fail "missing /$f"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/tallowbrook-contact-mover.desktop"
fi

# The unpacked programs start: the command line tool answers, the window comes up and keeps running.
export HOME="$work/home"
mkdir -p "$HOME"
"$root/usr/bin/contact-mover-cli" --help >"$work/help.txt" || fail "contact-mover-cli --help failed"
grep -q "Usage: contact-mover-cli" "$work/help.txt" || fail "unexpected help text"
"$root/usr/bin/contact-mover-cli" dbs >/dev/null || fail "contact-mover-cli dbs failed"
set +e
QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/contact-mover" >"$work/window.log" 2>&1
code=$?
set -e
[ $code -eq 124 ] || { cat "$work/window.log" >&2; fail "the window ended by itself (exit $code)"; }
echo "package: $(basename "$deb") checked"
