#!/usr/bin/env bash
# The program with simulated devices, for a first look without phones: two Android phones (one reached through adb,
# one over Wi-Fi), one iPhone, and an encrypted iPhone backup, each with sample contacts of varied shape. The window
# runs with a home folder of its own under the demo folder, so the user's own data is never touched.
#   scripts/demo.sh [--xvfb] [--no-window] [--no-build] [DEMO_DIR]      (DEMO_DIR: default a new folder under /tmp)
# Everything it starts is stopped when the window closes (or on Ctrl-C).
#   --no-window  set everything up, write DEMO_DIR/demo.env (the window's environment and the backup's password),
#                print "demo ready" and keep the simulated devices running until stopped: for scripted runs of
#                the "Things to try" through contact-mover-cli.
#   --no-build   use the programs already built in $DEMO_BUILD_DIR (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

xvfb=no
window=yes
build=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --xvfb) xvfb=yes ;;
    --no-window) window=no ;;
    --no-build) build=no ;;
    --*) echo "demo: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
if [ $window = yes ] && [ $xvfb = no ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here: start the demo from a desktop session, or run 'scripts/demo.sh --xvfb' to use a virtual X server." >&2
  exit 1
fi

bin=${DEMO_BUILD_DIR:-$repo/build}
if [ $build = yes ]; then
  scripts/deps.sh
  export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
  cmake -S . -B "$bin" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$bin" -j2 --target contact-mover contact-mover-cli phone-sim iphone-sim backup-maker
fi

demo=${1:-$(mktemp -d /tmp/tallowbrook-demo.XXXXXX)}
mkdir -p "$demo/home"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

# Sample contacts: photos, several phones, addresses, birthdays, anniversaries, notes, non-Latin names.
photo=$(base64 -w0 "$bin/resources/icons/app.png")
cat >"$demo/android-usb.vcf" <<EOF
BEGIN:VCARD
VERSION:3.0
N:Okafor;Amara;;Dr.;
FN:Dr. Amara Okafor
ORG:Riverside Clinic;Cardiology
TITLE:Consultant
TEL;TYPE=CELL:+44 7700 900123
TEL;TYPE=WORK:+44 20 7946 0011
EMAIL;TYPE=WORK:amara.okafor@example.org
ADR;TYPE=WORK:;;12 Mill Lane;Oxford;;OX1 2JD;United Kingdom
BDAY:1979-03-14
PHOTO;ENCODING=b;TYPE=PNG:$photo
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Müller;Jürgen;;;
FN:Jürgen Müller
TEL;TYPE=HOME:+49 30 1234567
TEL;TYPE=CELL:+49 151 2345678
EMAIL;TYPE=HOME:juergen.mueller@example.de
NOTE:Prefers calls after 6 pm.
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:李;娜;;;
FN:李娜
TEL;TYPE=CELL:+86 138 0013 8000
ADR;TYPE=HOME:;;人民路 88 号;上海;;200001;中国
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Nakamura;Yuki;;;
FN:Yuki Nakamura
TEL;TYPE=CELL:+81 90 1234 5678
EMAIL:yuki@example.jp
END:VCARD
EOF
cat >"$demo/android-wifi.vcf" <<EOF
BEGIN:VCARD
VERSION:3.0
N:Petrova;Анна;;;
FN:Анна Petrova
TEL;TYPE=CELL:+7 912 345 67 89
EMAIL:anna.petrova@example.ru
BDAY:1992-11-02
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Nakamura;Yuki;;;
FN:Yuki Nakamura
TEL;TYPE=WORK:+81 3 1234 5678
END:VCARD
EOF
cat >"$demo/iphone.vcf" <<EOF
BEGIN:VCARD
VERSION:3.0
N:García;Sofía;;;
FN:Sofía García
ORG:Estudio Sol
TEL;TYPE=CELL:+34 600 123 456
TEL;TYPE=HOME:+34 91 123 45 67
EMAIL;TYPE=HOME:sofia@example.es
ADR;TYPE=HOME:;;Calle Mayor 5;Madrid;;28013;España
BDAY:1988-07-21
PHOTO;ENCODING=b;TYPE=PNG:$photo
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Okafor;Amara;;Dr.;
FN:Dr. Amara Okafor
TEL;TYPE=CELL:+44 7700 900123
EMAIL;TYPE=HOME:amara@example.com
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:Cohen;Noa;;;
FN:Noa Cohen
TEL;TYPE=CELL:+972 50 123 4567
URL:https://example.org/noa
END:VCARD
EOF
cat >"$demo/backup.vcf" <<EOF
BEGIN:VCARD
VERSION:3.0
N:Svensson;Erik;;;
FN:Erik Svensson
TEL;TYPE=CELL:+46 70 123 45 67
EMAIL:erik@example.se
BDAY:1965-05-30
NOTE:From the old iPhone.
END:VCARD
BEGIN:VCARD
VERSION:3.0
N:;;;;
FN:Harbour Café
ORG:Harbour Café
TEL;TYPE=WORK:+353 1 555 0100
END:VCARD
EOF

# Reads a simulator's start-up lines until "ready"; prints them.
wait_ready() {
  local file=$1
  for _ in $(seq 100); do
    grep -q '^ready$' "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: a simulator did not start; see $file" >&2
  exit 1
}

"$bin/tools/phone-sim/phone-sim" --name "Pixel Demo" --serial DEMO0001 --adb-port 0 \
  --store "$demo/android-usb.json" --seed "$demo/android-usb.vcf" >"$demo/android-usb.out" 2>"$demo/android-usb.err" &
pids+=($!)
"$bin/tools/phone-sim/phone-sim" --name "Galaxy Demo" --serial DEMO0002 --adb-port 0 --wifi-port 0 \
  --store "$demo/android-wifi.json" --seed "$demo/android-wifi.vcf" >"$demo/android-wifi.out" 2>"$demo/android-wifi.err" &
pids+=($!)
"$bin/tools/iphone-sim/iphone-sim" --socket "$demo/mux.sock" --udid 00008030-001A2B3C4D5E6F70 --name "Demo iPhone" \
  --store "$demo/iphone.json" --seed "$demo/iphone.vcf" >"$demo/iphone.out" 2>"$demo/iphone.err" &
pids+=($!)
wait_ready "$demo/android-usb.out"
wait_ready "$demo/android-wifi.out"
wait_ready "$demo/iphone.out"

password=demo-$RANDOM
backups="$demo/home/Apple/MobileSync/Backup"
mkdir -p "$backups"
"$bin/tools/backup-maker/backup-maker" "$backups/00008030-0000DEMO0000BACK" --seed "$demo/backup.vcf" \
  --password "$password" --iterations 10000,10000 --device-name "Old iPhone" >/dev/null

adb_tcp=$(sed -n 's/^CONTACT_MOVER_ADB_TCP=//p' "$demo/android-usb.out")
wifi_port=$(sed -n 's/^CONTACT_MOVER_WIFI_PORT=//p' "$demo/android-wifi.out")
mux=$(sed -n 's/^USBMUXD_SOCKET_ADDRESS=//p' "$demo/iphone.out")

# A phone used over Wi-Fi gets its companion app from one USB connection, as a real one gets it from the store:
# "Galaxy Demo" is connected once over adb here, with a home folder of its own (the window starts without it),
# so that its app is installed and its Wi-Fi listener answers. Without this the Wi-Fi step finds nothing there.
galaxy_adb=$(sed -n 's/^CONTACT_MOVER_ADB_TCP=//p' "$demo/android-wifi.out")
mkdir -p "$demo/setup-home"
if ! HOME="$demo/setup-home" CONTACT_MOVER_ADB_TCP="$galaxy_adb" CONTACT_MOVER_ANDROID_PAUSE_MS=0 \
    USBMUXD_SOCKET_ADDRESS="UNIX:$demo/no-iphones.sock" \
    "$bin/src/cli/contact-mover-cli" list --device "$galaxy_adb" >/dev/null 2>"$demo/setup.err"; then
  echo "demo: the companion app could not be installed on \"Galaxy Demo\"; see $demo/setup.err" >&2
  exit 1
fi

cat <<EOF

Tallowbrook Contact Mover demo in $demo
  Android phone "Pixel Demo"   reached through adb at $adb_tcp (appears by itself)
  Android phone "Galaxy Demo"  reached over Wi-Fi: Tools > Connect Android Phone via WiFi, address 127.0.0.1
  iPhone "Demo iPhone"         appears by itself
  iPhone backup "Old iPhone"   Import > Import from iTunes; its password is: $password
  The simulated phones keep their contacts in $demo/*.json.
Close the window to stop the demo.

EOF

cat >"$demo/demo.env" <<EOF
HOME=$demo/home
CONTACT_MOVER_ADB_TCP=$adb_tcp
CONTACT_MOVER_WIFI_PORT=$wifi_port
USBMUXD_SOCKET_ADDRESS=$mux
DEMO_PASSWORD=$password
EOF

if [ $window = no ]; then
  echo "demo ready"
  # The simulators stay until this script is stopped (SIGTERM or Ctrl-C).
  wait
  exit 0
fi

export XAUTHORITY="${XAUTHORITY:-$(getent passwd "$(id -u)" | cut -d: -f6)/.Xauthority}"
export HOME="$demo/home"
export CONTACT_MOVER_ADB_TCP="$adb_tcp"
export CONTACT_MOVER_WIFI_PORT="$wifi_port"
export USBMUXD_SOCKET_ADDRESS="$mux"
if [ $xvfb = yes ]; then
  xvfb-run -a -s "-screen 0 1280x800x24" "$bin/src/app/contact-mover"
else
  "$bin/src/app/contact-mover"
fi
