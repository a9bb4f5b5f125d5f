#!/usr/bin/env bash
# Installs what is missing, builds and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target contact-mover contact-mover-cli
exec build/src/app/contact-mover "$@"
