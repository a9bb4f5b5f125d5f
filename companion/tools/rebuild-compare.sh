#!/usr/bin/env bash
# Builds the companion package a second time in another folder and compares it byte for byte with the first.
#   rebuild-compare.sh BUILT.apk WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
built=${1:?} work=${2:?}
rm -rf "$work" && mkdir -p "$work"
"$here/build-apk.sh" "$work/again.apk" "$work/build" >/dev/null
if ! cmp "$built" "$work/again.apk"; then
  echo "a second build of the same sources differs: $built $work/again.apk" >&2
  exit 1
fi
echo "same bytes: $(sha256sum < "$built" | cut -c1-16)"
