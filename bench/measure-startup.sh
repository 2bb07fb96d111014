#!/usr/bin/env bash
# Measures how long `orvane` takes from its start to its icon sitting in the tray, on the
# throw-away test desktop with trayer as the tray host, RUNS times (default 5). The app starts
# as a calibrated user's would: a recorded clip as the camera, a calibration on file.
#
#   bench/measure-startup.sh BUILD_DIR [RUNS]
#
# BUILD_DIR is a build with the demonstration's clip and calibration tools (its demo/),
# preferably Release. RUNS 1 tries the script out.
set -euo pipefail
if [[ -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    exec "$(dirname "$0")/../scripts/test-desktop.sh" "$BASH" "$0" "$@"
fi
build="$(realpath "${1:?usage: $0 BUILD_DIR [RUNS]}")"
runs="${2:-5}"
missing=()
clip="$HOME/head-turn.avi"

# shellcheck source=../tests/linux/script-support.sh
source "$(dirname "$0")/../tests/linux/script-support.sh"

# A fresh machine may lack the tray host or the X tools, or hold a build of `orvane` alone:
# say what is missing instead of waiting for a tray that never comes.
for tool in trayer:trayer xdotool:xdotool xwininfo:x11-utils; do
    command -v "${tool%%:*}" >/dev/null ||
        missing+=("${tool%%:*} (Debian package ${tool#*:}, see scripts/install-deps.sh)")
done
for program in src/orvane demo/orvane_head_turn_clip demo/orvane_calibrate_for_clip; do
    [[ -x "$build/$program" ]] || missing+=("$build/$program (build the target ${program##*/})")
done
if [[ -n "${missing[*]:-}" ]]; then
    printf 'FAIL: missing %s\n' "${missing[@]}" >&2
    exit 1
fi

"$build/demo/orvane_head_turn_clip" "$clip" 90 15 >/dev/null
"$build/demo/orvane_calibrate_for_clip" >/dev/null

trayer --expand false --widthtype request --align left >"$HOME/trayer.log" 2>&1 &
tray=$!
tray_up() { xwininfo -root -tree 2>/dev/null | grep -q '"trayer"'; }
poll 20 tray_up || {
    echo "FAIL: trayer showed no window within 20 s" >&2
    cat "$HOME/trayer.log" >&2
    exit 1
}

# The icon is in the tray once trayer has adopted a window of ours: its parent is no longer the
# root window.
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
embedded() {
    local window parent
    for window in $(xdotool search --class orvane 2>/dev/null); do
        parent=$(xwininfo -id "$window" -children 2>/dev/null | awk '/Parent window id:/ {print $4}')
        [[ -n "$parent" && "$parent" != "$root" ]] && return 0
    done
    return 1
}

times=()
for ((run = 1; run <= runs; run++)); do
    start=$(date +%s.%N)
    ORVANE_CAMERA_FILES="$clip" "$build/src/orvane" 2>"$HOME/orvane-$run.log" &
    pid=$!
    deadline=$((SECONDS + 30))
    until embedded; do
        if [[ $SECONDS -ge $deadline ]] || ! kill -0 "$pid" 2>/dev/null; then
            echo "FAIL: run $run: no tray icon within 30 s" >&2
            cat "$HOME/orvane-$run.log" >&2
            exit 1
        fi
        sleep 0.005
    done
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", 1000 * (b - a) }')")
    # Until the face model has been read and a frame shows the face (or 60 s have passed).
    poll 60 grep -q 'status: tracking' "$HOME/orvane-$run.log" ||
        echo "run $run: no face tracked within 60 s" >&2
    kill -TERM "$pid"
    wait "$pid" || true
    grep -E 'in the tray|status:|model' "$HOME/orvane-$run.log" | sed "s/^/run $run: /" | head -n 4
    if grep -E -q 'ERROR: (Address|Leak|Thread)Sanitizer|runtime error:' "$HOME/orvane-$run.log"; then
        echo "run $run: a sanitizer reported a fault" >&2
        cat "$HOME/orvane-$run.log" >&2
        exit 1
    fi
done
kill "$tray" 2>/dev/null || true
echo "start-up to the tray icon (ms): ${times[*]}"
printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print "median: " a[int((NR + 1) / 2)] " ms" }'
