#!/usr/bin/env bash
# The demonstration (demo/run-demo.sh) as scripts/run.sh starts it without a display, shortened:
# focus reaches the window on each monitor, the screenshots are real pictures of the whole
# two-monitor desktop, the report names both monitors, and nothing it started is left running.
#
#   demo.sh BUILD_DIR RUN_DEMO [SECONDS]
set -uo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: $0 BUILD_DIR RUN_DEMO [SECONDS]" >&2
    exit 2
fi
build="$1"
run_demo="$2"
export ORVANE_DEMO_SECONDS="${3:-40}"

# shellcheck source=script-support.sh
source "$(dirname "${BASH_SOURCE[0]}")/script-support.sh"

shots="$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo-test.XXXXXX")"
trap 'rm -rf "$shots"' EXIT
# Every process the demonstration starts inherits the mark; none may have it once it is over.
env -u DISPLAY -u WAYLAND_DISPLAY ORVANE_DEMO_UNTIL_SHOWN=1 ORVANE_DEMO_TEST_MARK="$shots" \
    "$run_demo" "$build" "$shots" \
    >"$shots/output" 2>&1 </dev/null
status=$?
cat "$shots/output"

[[ $status -eq 0 ]] || fail "the demonstration ended with status $status"
grep -q -x 'Focus reached the LEFT window: yes, the RIGHT window: yes.' "$shots/output" ||
    fail "focus did not reach both windows"
# The report's own lines: the head, the gaze on each monitor and the focus.
grep -q -E '^ +[0-9]+ s  head yaw [-+][0-9]+° pitch [-+][0-9]+°  gaze \([0-9]+, [0-9]+\) on ' \
    "$shots/output" || fail "no report line with the head and the gaze"
grep -q -E 'on RIGHT  focus: RIGHT window' "$shots/output" ||
    fail "the report never had the gaze on RIGHT with its window focused"

pictures=("$shots"/desktop-*.png)
[[ ${#pictures[@]} -ge 3 && -e ${pictures[0]} ]] || fail "fewer than 3 screenshots: ${pictures[*]}"
for picture in "${pictures[@]}"; do
    [[ -e $picture ]] || continue
    size=$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read(24)
assert data[:8] == b"\x89PNG\r\n\x1a\n"
print("%dx%d" % struct.unpack(">II", data[16:24]))' "$picture") ||
        fail "$picture is not a PNG"
    [[ ${size:-} == 2560x1080 ]] || fail "$picture is ${size:-unreadable}, not the whole desktop"
done
[[ -e "$shots/desktop-1-start.png" ]] || fail "no screenshot at the start"
compgen -G "$shots/desktop-*-focus-left.png" >/dev/null || fail "no screenshot of the left focus"
compgen -G "$shots/desktop-*-focus-right.png" >/dev/null || fail "no screenshot of the right focus"

leftovers=$(grep -l -z -x -F "ORVANE_DEMO_TEST_MARK=$shots" /proc/[0-9]*/environ 2>/dev/null)
[[ -z $leftovers ]] || fail "processes left running: $leftovers"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
