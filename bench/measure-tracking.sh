#!/usr/bin/env bash
# Measures `orvane` tracking a recorded head-turn clip on the throw-away test desktop: CPU
# share of one core and resident memory over a run of SECONDS (default 60).
#
#   bench/measure-tracking.sh BUILD_DIR [SECONDS]
#
# BUILD_DIR is a Release build (its demo/ holds the clip and calibration tools); a few
# SECONDS try the script out on any build.
set -euo pipefail
if [[ -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    exec "$(dirname "$0")/../scripts/test-desktop.sh" "$BASH" "$0" "$@"
fi
build="$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS]}")"
seconds="${2:-60}"
clip="$HOME/head-turn.avi"

# shellcheck source=../tests/linux/script-support.sh
source "$(dirname "$0")/../tests/linux/script-support.sh"

"$build/demo/orvane_head_turn_clip" "$clip" 90 15
"$build/demo/orvane_calibrate_for_clip"

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

ORVANE_CAMERA_FILES="$clip" "$build/src/orvane" 2>"$HOME/orvane.log" &
pid=$!
# Measured from the first face tracked: the face model loads in the background at start-up.
poll 60 grep -q 'status: tracking' "$HOME/orvane.log" || {
    echo "no face tracked within 60 s" >&2
    cat "$HOME/orvane.log" >&2
    kill -TERM "$pid"
    exit 1
}
start_ticks=$(cpu_ticks "$pid")
start_time=$(date +%s.%N)
peak_rss=0
for ((i = 0; i < seconds; i++)); do
    sleep 1
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
    ((rss > peak_rss)) && peak_rss=$rss
done
end_ticks=$(cpu_ticks "$pid")
end_time=$(date +%s.%N)
kill -TERM "$pid"
wait "$pid" || true

awk -v t0="$start_time" -v t1="$end_time" -v c0="$start_ticks" -v c1="$end_ticks" \
    -v hz="$ticks" -v rss="$peak_rss" 'BEGIN {
        printf "tracked for %.1f s: CPU %.1f %% of one core, peak resident memory %.0f MB\n",
               t1 - t0, 100 * (c1 - c0) / hz / (t1 - t0), rss / 1024 }'
echo "focus changes: $(grep -c 'focused ' "$HOME/orvane.log" || true)"
grep -E 'status:|focused|error' "$HOME/orvane.log" | tail -n 5
if grep -E -q 'ERROR: (Address|Leak|Thread)Sanitizer|runtime error:' "$HOME/orvane.log"; then
    echo "a sanitizer reported a fault" >&2
    cat "$HOME/orvane.log" >&2
    exit 1
fi
