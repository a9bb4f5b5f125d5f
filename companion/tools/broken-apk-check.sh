#!/usr/bin/env bash
# The structural checks must refuse damaged packages: a file added after signing (signature and alignment
# broken), a package whose resources.arsc is compressed, and a text file that only names the package.
#   broken-apk-check.sh GOOD.apk WORKDIR
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
good=${1:?} work=${2:?}
rm -rf "$work" && mkdir -p "$work"
"$here/check-apk.sh" "$good" >/dev/null 2>&1 || { echo "the good package fails its checks" >&2; exit 1; }
python3 - "$good" "$work" <<'PY'
import sys, zipfile
good, work = sys.argv[1:3]
with zipfile.ZipFile(good) as src:
    items = [(i, src.read(i)) for i in src.infolist()]
with zipfile.ZipFile(work + "/added.apk", "w") as z:
    for i, d in items:
        z.writestr(i, d)
    z.writestr("assets/extra.txt", "x")
with zipfile.ZipFile(work + "/compressed-arsc.apk", "w") as z:
    for i, d in items:
        i.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(i, d)
open(work + "/text.apk", "w").write("package:com.tallowbrook.contactssync\n")
PY
status=0
for apk in added compressed-arsc text; do
  if "$here/check-apk.sh" "$work/$apk.apk" >"$work/$apk.log" 2>&1; then
    echo "check-apk.sh accepted the broken package $apk.apk" >&2
    status=1
  fi
done
exit $status
