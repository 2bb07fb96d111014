#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors,
# and runs them all: unit tests on the simulated desktop, Linux backend tests, and the tests
# on a real (throw-away) X desktop. Also checks the formatting.
set -euo pipefail
cd "$(dirname "$0")/.."

sources=$(git ls-files '*.cpp' '*.hpp' 2>/dev/null || find src tests bench -name '*.[ch]pp')
clang-format --dry-run --Werror $sources

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON \
    -DORVANE_WERROR=ON
cmake --build build-test --parallel "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-test --output-on-failure --parallel "$(nproc)" --timeout 300
