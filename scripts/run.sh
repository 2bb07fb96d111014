#!/usr/bin/env bash
# Builds Orvane and runs it with the arguments given. Without arguments where there is no
# display to run it on (a server, a container, a remote shell), a demonstration on a
# throw-away desktop runs instead (demo/run-demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
if [[ $# -eq 0 && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "There is no display here: showing the demonstration instead."
    exec demo/run-demo.sh build
fi
exec build/src/orvane "$@"
