#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the tools need, only those missing.
set -euo pipefail

packages=(
  # build
  g++ cmake pkg-config ccache make
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev
  libsqlite3-dev libplist-dev libimobiledevice-dev libusbmuxd-dev libusb-1.0-0-dev libssl-dev
  # tests and tools
  adb libimobiledevice-utils sqlite3 poppler-utils xvfb xauth dbus-daemon
  dpkg-dev desktop-file-utils    # the Debian package: dependencies found by dpkg-shlibdeps, menu entry checked
  clang-format                   # the format check (scripts/check-format.sh)
  python3 python3-cryptography   # the second backup reader (tools/backup-maker/verify-backup.py)
  zlib1g-dev                     # phone-sim reads the manifest inside a package file
  # the companion app (companion/build-apk.sh, check-apk.sh, run-tests.sh); dx comes from
  # libgradle-android-plugin-java, downloaded and unpacked by companion/fetch-dx.sh, not installed
  default-jdk-headless libguava-java aapt android-framework-res zipalign apksigner dexdump enjarify unzip
)

# The class-to-dex compiler of the companion app's build, where build-apk.sh looks for it.
fetch_dx() {
  local here dest
  here=$(cd "$(dirname "$0")/.." && pwd)
  if [ "$(id -u)" -eq 0 ]; then dest=/usr/local/lib/contact-mover/dx.jar; else dest=$HOME/.cache/contact-mover/dx.jar; fi
  "$here/companion/fetch-dx.sh" "$dest"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  fetch_dx
  exit 0
fi

echo "deps: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fetch_dx
