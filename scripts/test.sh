#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors,
# and runs them all: unit tests on the simulated desktop, Linux backend tests, and the tests
# on real (throw-away) X, GNOME Shell, KWin and sway desktops, two of them at a time. Also
# checks the formatting. First installs what the tests drive (scripts/install-test-deps.sh),
# which takes no time once it is there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-test-deps.sh

sources=$(git ls-files '*.cpp' '*.hpp' 2>/dev/null || find src tests bench -name '*.[ch]pp')
clang-format --dry-run --Werror $sources

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON \
    -DORVANE_WERROR=ON
cmake --build build-test --parallel "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:intercept_tls_get_addr=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-test --output-on-failure --parallel "$(nproc)" --timeout 300
