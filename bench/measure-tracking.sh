#!/usr/bin/env bash
# Measures what `orvane` costs against the least a camera stream can cost, on the throw-away
# test desktop, over SECONDS (default 60) for each of two clips that look like a webcam's
# stream (1280x720 Motion-JPEG at 15 fps, every frame shaken and noisy, see
# demo/WebcamClip.cpp):
#   - the face clip: orvane tracking a head turning right and left;
#   - the empty clip: the same room with nobody in it, orvane "away".
# For each, the reference is orvane_decode_reference playing the same clip at its own rate and
# decoding every frame to grey as orvane's clip path does, and nothing more. It runs alongside
# orvane over the same wall-clock window: other work on the machine slows both alike, so the
# ratio of their CPU shares holds on a busy machine where either share alone does not.
# Also: orvane's peak resident memory (VmHWM, since its start) and its focus changes.
#
#   bench/measure-tracking.sh BUILD_DIR [SECONDS]
#
# BUILD_DIR is a Release build (its demo/ and bench/ hold the clip, calibration and reference
# tools); a few SECONDS try the script out on any build.
set -euo pipefail
if [[ -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    exec "$(dirname "$0")/../scripts/test-desktop.sh" "$BASH" "$0" "$@"
fi
build="$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS]}")"
seconds="${2:-60}"
face_clip="$build/demo/webcam-face.avi"
empty_clip="$build/demo/webcam-empty.avi"

# shellcheck source=../tests/linux/script-support.sh
source "$(dirname "$0")/../tests/linux/script-support.sh"

# shellcheck source=webcam-clips.sh
source "$(dirname "$0")/webcam-clips.sh"
make_webcam_clips "$build"
"$build/demo/orvane_calibrate_for_clip" >/dev/null

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
peak_kb() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }
# "thread-id name ticks" for each thread of process $1 (a name may hold spaces: cut at the
# last parenthesis of the stat line).
thread_ticks() {
    local task
    for task in /proc/"$1"/task/*; do
        { printf '%s %s ' "${task##*/}" "$(tr ' ' '_' <"$task/comm")"
          sed 's/.*) //' "$task/stat" | awk '{print $12 + $13}'; } 2>/dev/null || true
    done
}

check_sanitizers() {
    if grep -E -q 'ERROR: (Address|Leak|Thread)Sanitizer|runtime error:' "$1"; then
        echo "a sanitizer reported a fault" >&2
        cat "$1" >&2
        exit 1
    fi
}

peak=0
ready_after=0
figures="$HOME/figures"
: >"$figures"
threads="$HOME/threads"
: >"$threads"
# measure NAME CLIP: orvane and the reference on CLIP, measured over the same window; adds the
# line of figures to $figures. The window opens once orvane has read its face model: at the first
# tracked face on the face clip, and as long after the start on the empty clip.
measure() {
    local name="$1" clip="$2" log="$HOME/orvane-$1.log" started orvane reference
    started=$(date +%s.%N)
    ORVANE_CAMERA_FILES="$clip" "$build/src/orvane" 2>"$log" &
    orvane=$!
    "$build/bench/orvane_decode_reference" "$clip" >"$HOME/reference-$name.log" &
    reference=$!
    if [[ $name == tracking ]]; then
        poll 60 grep -q 'status: tracking' "$log" || {
            echo "no face tracked within 60 s" >&2
            cat "$log" >&2
            kill -TERM "$orvane" "$reference"
            exit 1
        }
        ready_after=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    else
        poll 60 grep -q 'status: no face' "$log" || {
            echo "orvane never looked for a face" >&2
            cat "$log" >&2
            kill -TERM "$orvane" "$reference"
            exit 1
        }
        sleep "$(awk -v a="$started" -v r="$ready_after" -v now="$(date +%s.%N)" \
            'BEGIN { s = a + r + 1 - now; print (s > 0 ? s : 0) }')"
    fi
    local o0 r0 t0 o1 r1 t1 threads0 threads1
    threads0=$(thread_ticks "$orvane")
    o0=$(cpu_ticks "$orvane") r0=$(cpu_ticks "$reference") t0=$(date +%s.%N)
    sleep "$seconds"
    o1=$(cpu_ticks "$orvane") r1=$(cpu_ticks "$reference") t1=$(date +%s.%N)
    threads1=$(thread_ticks "$orvane")
    local kb
    kb=$(peak_kb "$orvane")
    ((kb > peak)) && peak=$kb
    kill -TERM "$orvane" "$reference"
    wait "$orvane" || true
    wait "$reference" || true
    check_sanitizers "$log"
    check_sanitizers "$HOME/reference-$name.log"
    # A reference that fell far behind the clip's rate, or an "away" that found someone, would
    # make the ratio meaningless.
    if ! awk '/^decoded/ { exit !($2 >= 7.5 * $5) } END { if (NR == 0) exit 1 }' \
        "$HOME/reference-$name.log"; then
        echo "FAIL: the decode reference did not keep up with the clip:" \
            "$(cat "$HOME/reference-$name.log")" >&2
        exit 1
    fi
    if [[ $name == away ]] && grep -q 'status: tracking' "$log"; then
        echo "FAIL: orvane tracked a face in the empty clip" >&2
        exit 1
    fi
    local clip_name=face
    [[ $name == away ]] && clip_name=empty
    awk -v name="$name" -v clip="$clip_name" -v t0="$t0" -v t1="$t1" -v o0="$o0" -v o1="$o1" \
        -v r0="$r0" -v r1="$r1" -v hz="$ticks" 'BEGIN {
            span = t1 - t0; decode = 100 * (r1 - r0) / hz / span; own = 100 * (o1 - o0) / hz / span
            printf "%s clip (%s), %.1f s: decode %.1f %%, orvane %.1f %% of one core: ", clip, name, span, decode, own
            if (decode > 0) printf "%.2fx the decode\n", own / decode; else print "no decode measured" }' \
        >>"$figures"
    # Where orvane's share went, by thread name (threads of one name added up); a thread that
    # ended within the window is left out.
    awk -v clip="$clip_name" -v span="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" -v hz="$ticks" '
        FNR == NR { before[$1] = $3; next }
        { used[$2] += $3 - before[$1] }
        END {
            line = clip " clip, by thread:"
            for (name in used) if (used[name] > 0) line = line sprintf(" %s %.1f %%,", name, 100 * used[name] / hz / span)
            sub(/,$/, "", line); print line }' \
        <(printf '%s\n' "$threads0") <(printf '%s\n' "$threads1") >>"$threads"
}

measure tracking "$face_clip"
measure away "$empty_clip"
cat "$figures"
echo "peak resident memory: $((peak / 1024)) MB"
echo "focus changes: $(grep -c 'focused ' "$HOME/orvane-tracking.log" || true)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
grep -E 'status:|focused|error' "$HOME/orvane-tracking.log" | tail -n 5
echo "orvane's share of one core:"
cat "$threads"
