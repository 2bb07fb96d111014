#!/usr/bin/env bash
# Builds Orvane and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
exec build/src/orvane "$@"
