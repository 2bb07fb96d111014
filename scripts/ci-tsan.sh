#!/usr/bin/env bash
# The threaded parts under ThreadSanitizer: the camera, the head-pose tracker, the gaze engine,
# the camera probe (unit tests and `orvane --probe-camera` on recorded clips) and the Linux
# camera backend with its worker threads. Any report fails the run.
#
#   scripts/ci-tsan.sh            (from a clean checkout, after scripts/install-test-deps.sh)
#   scripts/ci-tsan.sh --build-only   builds what it runs and stops
#
# BUILD_DIR overrides the build directory (default build-tsan); JOBS the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${BUILD_DIR:-build-tsan}"
jobs="${JOBS:-$(nproc)}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=thread \
    -DORVANE_WERROR=ON -DORVANE_BUILD_BENCH=OFF >/dev/null
# Only what these tests need: no UI tests, no X11 tests, no benchmarks.
cmake --build "$build" --parallel "$jobs" --target orvane_tests orvane_linux_tests orvane \
    orvane_head_turn_clip
[[ ${1:-} == --build-only ]] && exit 0

# halt_on_error: the first report ends the process with a failing status, whoever runs it.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=4:suppressions=$root/tests/tsan.supp"

status=0
run() {
    echo "--- $*"
    "$@" || status=1
}

run "$build/tests/orvane_tests" --gtest_brief=1 \
    --gtest_filter='CameraCapture*:HeadPoseTracker*:GazeEngine*:CameraProbe*'
run "$build/tests/linux/orvane_linux_tests" --gtest_brief=1 \
    --gtest_filter='V4l2*:StreamingCamera*:CameraClips*:ThreadSerialQueue*:QtMainQueue*'
# The whole pipeline on its real threads: clips and photos through `orvane --probe-camera`.
run ctest --test-dir "$build" --output-on-failure -R '^probe\.' --timeout 300

if [[ $status -ne 0 ]]; then
    echo "ThreadSanitizer run failed"
fi
exit "$status"
