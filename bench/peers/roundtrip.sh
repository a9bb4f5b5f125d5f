#!/usr/bin/env bash
# Round trips of this program's vCard export through KContacts and libebook: imports every corpus vCard with
# contact-mover-cli, exports it again, reads the export with both peer libraries and prints, per field kind,
# the share each one reads with the same value and kind (docs/contact-files.md keeps the figures).
#
#   bench/peers/roundtrip.sh [-v] [FILE.vcf...]     default: tests/data/vcard/corpus/*.vcf
#
# Needs Debian's libkf5contacts-dev and libebook1.2-dev (scripts/bench.sh installs them); never part of the
# normal build or of scripts/test.sh. BUILD (default build) holds contact-mover-cli.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
VERBOSE=()
if [ "${1:-}" = "-v" ]; then VERBOSE=(-v); shift; fi
for p in libkf5contacts-dev libebook1.2-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "roundtrip.sh: $p is not installed (scripts/bench.sh installs it)" >&2
    exit 2
  fi
done
cmake --build "$BUILD" --target contact-mover-cli >/dev/null
PEERS="$BUILD/bench/peers"
mkdir -p "$PEERS"
# KContacts is a Qt 5 library, the project Qt 6: the peers are built outside the project.
g++ -O1 -std=c++17 -fPIC bench/peers/kcontacts-fields.cpp -o "$PEERS/kcontacts-fields" \
  -I/usr/include/KF5/KContacts $(pkg-config --cflags --libs Qt5Core Qt5Gui) -lKF5Contacts
gcc -O1 -Wno-deprecated-declarations bench/peers/ebook-fields.c -o "$PEERS/ebook-fields" \
  $(pkg-config --cflags --libs libebook-contacts-1.2)
FILES=("$@")
[ ${#FILES[@]} -gt 0 ] || FILES=(tests/data/vcard/corpus/*.vcf)
python3 bench/peers/roundtrip.py "${VERBOSE[@]}" --cli "$BUILD/src/cli/contact-mover-cli" \
  --kcontacts "$PEERS/kcontacts-fields" --ebook "$PEERS/ebook-fields" "${FILES[@]}"
