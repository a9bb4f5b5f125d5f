#!/usr/bin/env bash
# The tree keeps the layer rules, and the check really fails on a wrong arrow planted in a copy of it.
set -euo pipefail
python=$1 root=$2
check=$root/scripts/check-includes.py
"$python" "$check" "$root"

copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$root/README.md" "$root/src" "$root/tools" "$copy/"
mkdir "$copy/.ci" && cp "$root/.ci/include-exceptions" "$copy/.ci/"
"$python" "$check" "$copy"

echo '#include "app/mainwindow.h"' >> "$copy/src/contacts/pim.h"  # a model including the window
echo '#include "pim.h"' >> "$copy/src/contacts/localdb.cpp"           # a src header without its folder
echo '#include <QDialog>' >> "$copy/src/fileio/csvrow.h"           # a widget below the window
echo '#include "adb/adbprotocol.h"' >> "$copy/tools/phone-sim/main.cpp"   # a simulator using the program's protocol code
if out=$("$python" "$check" "$copy"); then
  echo "planted wrong includes were not found"; exit 1
fi
for want in "src/contacts/pim.h -> app" "src/contacts/localdb.cpp -> pim.h (name its folder" "src/fileio/csvrow.h -> widgets" "tools/phone-sim/main.cpp -> adb"; do
  grep -qF "$want" <<<"$out" || { echo "missing: $want"; echo "$out"; exit 1; }
done
