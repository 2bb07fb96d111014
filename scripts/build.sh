#!/usr/bin/env bash
# Configures and builds Orvane into build/ (Release).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF
cmake --build build --parallel "$(nproc)"
