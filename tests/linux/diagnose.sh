#!/usr/bin/env bash
# `orvane --diagnose` on the throw-away desktop (run through scripts/test-desktop.sh), compared
# line by line with a report built from what that desktop is: its monitors as xrandr lists
# them, a recorded clip as the only camera, the accessibility bus switched on, nothing in the
# way of a focus switch. Then again with a calibration stored.
#
#   diagnose.sh ORVANE CALIBRATE_TOOL
set -uo pipefail

if [[ $# -ne 2 || -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    echo "usage: scripts/test-desktop.sh $0 ORVANE CALIBRATE_TOOL" >&2
    exit 2
fi
orvane="$1"
calibrate="$2"
export LC_ALL=C

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A camera whose name a shell would mangle; it need not exist to be listed.
clip="$HOME/clips/my clip \$(id) \`id\`.avi"
export ORVANE_CAMERA_FILES="$clip"

# --- The desktop as xrandr has it ---------------------------------------------------------
# " 0: *LEFT 1280/338x1080/286+0+0  screen": a monitor is reported by the name it was set up
# with; an automatic one ("+" before its name) by its output's (Xvfb's outputs have no EDID).
# The primary first, positions relative to it.
monitors=$(xrandr --listmonitors | awk 'NR > 1 {
    name = $2; automatic = (name ~ /^[*]?[+]/); primary = (name ~ /^[+]?[*]/)
    gsub(/^[*+]+/, "", name)
    if (automatic && NF >= 4) name = $4
    split($3, g, /[x+]/); split(g[1], w, "/"); split(g[2], h, "/")
    print primary, name, w[1], h[1], g[3], g[4] }' | sort -s -k1,1nr)
read -r _ _ _ primary_height primary_x primary_y <<<"$(head -n1 <<<"$monitors")"

expected_screens=""
signature_entries=""
while read -r _ name width height x y; do
    expected_screens+="  $name: ${width}x$height at ($((x - primary_x)),$((y - primary_y)))"$'\n'
    # The signature uses the native frames: y grows upwards from the primary's bottom edge.
    signature_entries+="$((x - primary_x)),$((primary_y + primary_height - y - height)),"
    signature_entries+="${width}x$height"$'\n'
done <<<"$monitors"
layout=$(printf '%s' "$signature_entries" | sort | paste -sd'|')

# Real cameras are not ours to predict: only the recorded clip is compared.
real_cameras=0
compgen -G '/dev/video*' >/dev/null && real_cameras=1

diagnose() {
    local output
    output=$("$orvane" --diagnose 2>"$HOME/diagnose.err")
    local status=$?
    [[ $status -eq 0 ]] || fail "orvane --diagnose ended with status $status"
    if grep -E -q 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$HOME/diagnose.err"; then
        fail "the sanitizers reported a fault"
        cat "$HOME/diagnose.err" >&2
    fi
    if [[ $real_cameras -eq 1 ]]; then
        output=$(awk '/^cameras found:/ { list = 1; print; next }
                      list && /^  / && !/\[file:/ { next }
                      { list = 0; print }' <<<"$output" | sed 's/^camera:        .*/camera:        authorized/')
    fi
    printf '%s\n' "$output"
}

# Compares the report with the expected text, line by line (trailing empty lines aside).
compare() {
    local what="$1" expected actual
    expected=$(printf '%s' "$2")
    actual=$(printf '%s' "$3")
    if ! diff -u --label expected --label actual <(printf '%s\n' "$expected") \
        <(printf '%s\n' "$actual") >"$HOME/diff"; then
        fail "$what: the report differs"
        cat "$HOME/diff" >&2
    else
        echo "$what: the report is as expected"
    fi
}

head_text="Orvane diagnostics

bundle id:   net.orvane.Orvane
bundle path: $(readlink -f "$orvane")

camera:        authorized
"
# Nothing else holds Orvane's name here; X11 itself is what the desktop gives away.
cameras_and_screens="
added to this desktop, and who may use it:
  net.orvane.Orvane on the session bus: free (no Orvane runs)
    any program of yours may ask it to show Orvane's window, or to pause or resume it, nothing else
  the accessibility bus, switched on for your session as a screen reader would: any program of yours may read other programs' windows and text through it; Orvane reads it and moves focus through it, and offers nothing on it but its own windows
  X11 shows every program of yours every window and every key already; Orvane adds one key grab, the pause chord, and nothing else

cameras found:
  Recorded clip (my clip \$(id) \`id\`.avi)  [file:$clip]

screens:
$expected_screens
reading calibration…
"
guards="
guards right now:
  secure input:    false
  menu open:       false
  overview:        false
  launcher front:  none
  blocking reason: none — safe to switch
"

# --- Nothing stored -------------------------------------------------------------------------
compare "not calibrated" "${head_text}accessibility: trusted
${cameras_and_screens}
calibration: not calibrated
  samples: 0
  layout now:   $layout
$guards" "$(diagnose)"

# --- A calibration for these monitors -------------------------------------------------------
"$calibrate" >/dev/null || fail "the calibration tool failed"
file="${XDG_DATA_HOME:-$HOME/.local/share}/Orvane/calibration.json"
samples=$(python3 -c 'import json, sys; print(len(json.load(open(sys.argv[1]))["samples"]))' \
    "$file") || fail "no calibration file at $file"
actual=$(diagnose)
# The fit's error is the store's to compute; only its form is checked here.
error_line=$(grep -E '^  mean error: ' <<<"$actual")
[[ $error_line =~ ^\ \ mean\ error:\ [0-9]+\ pt$ ]] || fail "mean error line: '$error_line'"
compare "calibrated" "${head_text}accessibility: trusted
${cameras_and_screens}
calibration: ready
  samples: $samples
$error_line
  layout now:   $layout
$guards" "$actual"

if [[ $failures -gt 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "every check passed"
