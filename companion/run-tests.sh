#!/usr/bin/env bash
# The companion's JVM tests, on the classes compiled from source or on those recovered from a built dex:
#   run-tests.sh jvm WORKDIR
#   run-tests.sh dex WORKDIR classes.dex     (enjarify turns the dex back into JVM classes)
#   run-tests.sh host WORKDIR [ARGS...]      runs HostLauncher: the companion's sessions over the provider fake
# The second proves that the dex the phone gets holds the tested code.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:?usage: run-tests.sh jvm|dex|host WORKDIR [classes.dex]}
work=${2:?usage: run-tests.sh jvm|dex WORKDIR [classes.dex]}
tests="CodecTest SessionTest ListenerTest"
rm -rf "$work"
mkdir -p "$work"/{stubs,app,tests}
javac -nowarn -Xlint:-options --release 7 -encoding UTF-8 -d "$work/stubs" $(find "$here/stubs" -name '*.java' | sort)
# R.java is made by aapt; the plain classes do not need it, so a stand-in with the one id used will do here.
mkdir -p "$work/gen/com/tallowbrook/contactssync"
printf 'package com.tallowbrook.contactssync;\npublic final class R { public static final class drawable { public static final int ic_launcher = 0x7f020000; } }\n' \
  > "$work/gen/com/tallowbrook/contactssync/R.java"
javac -Xlint:-options --release 7 -encoding UTF-8 -cp "$work/stubs" -d "$work/app" \
  $(find "$here/src" "$work/gen" -name '*.java' | sort)
javac -Xlint:-options --release 8 -encoding UTF-8 -cp "$work/app" -d "$work/tests" \
  $(find "$here/test" -name '*.java' | sort)
case "$mode" in
  jvm) classes=$work/app ;;
  host) shift 2; exec java -cp "$work/app:$work/tests" com.tallowbrook.contactssync.HostLauncher "$@" ;;
  dex)
    dex=${3:?run-tests.sh dex needs the classes.dex}
    # enjarify's launcher takes the first python3 on PATH; Debian's module lives with Debian's interpreter.
    PATH=/usr/bin:$PATH enjarify -f -o "$work/recovered.jar" "$dex" >/dev/null
    classes=$work/recovered.jar ;;
  *) echo "run-tests.sh: unknown mode $mode" >&2; exit 2 ;;
esac
args=()
for t in $tests; do args+=("com.tallowbrook.contactssync.$t"); done
exec java -cp "$classes:$work/tests" com.tallowbrook.contactssync.Check "${args[@]}"
