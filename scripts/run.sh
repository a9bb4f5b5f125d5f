#!/usr/bin/env bash
# Installs what is missing, builds and starts the window.
#   scripts/run.sh            on a desktop
#   scripts/run.sh --xvfb     on a machine without a display: under a virtual X server (xvfb-run)
set -euo pipefail
cd "$(dirname "$0")/.."

xvfb=no
if [ "${1:-}" = "--xvfb" ]; then
  xvfb=yes
  shift
fi
if [ $xvfb = no ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display here: start it from a desktop session, or run 'scripts/run.sh --xvfb' to use a virtual X server." >&2
  exit 1
fi

scripts/deps.sh
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target contact-mover contact-mover-cli
if [ $xvfb = yes ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" build/src/app/contact-mover "$@"
fi
exec build/src/app/contact-mover "$@"
