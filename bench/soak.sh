#!/usr/bin/env bash
# A long run of `orvane` on the throw-away test desktop with a recorded clip as its camera that
# alternates a head turning (which moves focus between the monitors) and an empty scene with
# no face. Reports resident memory after the first minute and at the end (growth must stay
# under 5 MB), open descriptors and threads (no leaks), and checks that focus never moved while
# the clip showed no face.
#
#   bench/soak.sh BUILD_DIR [SECONDS]
#
# BUILD_DIR is a build with the demonstration's clip and calibration tools,
# preferably Release. SECONDS defaults to 600; a short run tries it out (under two minutes the
# first reading is taken halfway instead of after a minute, and memory growth is only
# reported). Exits non-zero when a limit is broken.
set -uo pipefail
if [[ -z "${ORVANE_TEST_DESKTOP:-}" ]]; then
    exec "$(dirname "$0")/../scripts/test-desktop.sh" "$BASH" "$0" "$@"
fi
build="$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS]}")"
seconds="${2:-600}"
fps=15
turn_frames=90     # 6 s: right, left, back to the middle
faceless_frames=120 # 8 s of nobody
# A switch just after the face went is still the last reading's (the tracker holds a pose for
# 1.8 s, the engine settles after that); the clip's start is known to within a frame or two.
grace_seconds=3
edge_seconds=0.5
growth_limit_kb=5120

# shellcheck source=../tests/linux/script-support.sh
source "$(dirname "$0")/../tests/linux/script-support.sh"
stamp() { perl -MTime::HiRes=time -ne '$| = 1; printf "%.3f %s", time, $_'; }

tools="$build/demo"
clip="$HOME/soak.avi"
"$tools/orvane_head_turn_clip" "$clip" "$turn_frames" "$fps" "$faceless_frames" || exit 1
"$tools/orvane_calibrate_for_clip" >/dev/null || exit 1

# One window on the left and one on the right monitor to move focus between.
xterm -title soak-left -geometry 80x24+200+200 >/dev/null 2>&1 &
xterm -title soak-right -geometry 80x24+2800+200 >/dev/null 2>&1 &
poll 20 eval '[[ $(xdotool search --onlyvisible --name "^soak-(left|right)\$" | wc -l) -ge 2 ]]' ||
    { echo "the windows did not appear" >&2; exit 1; }

log="$HOME/orvane.log"
focus_log="$HOME/focus.log"
: >"$log"
opens_log="$HOME/opens.log"
# Each time the clip's file is opened, with its time: the player reopens it at every loop.
python3 -u - "$clip" >"$opens_log" <<'WATCH' &
import ctypes, os, struct, sys, time
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init()
libc.inotify_add_watch(fd, sys.argv[1].encode(), 0x20)  # IN_OPEN
while True:
    data = os.read(fd, 4096)
    for _ in range(len(data) // 16):
        print("%.3f open" % time.time())
WATCH
xprop -root -spy _NET_ACTIVE_WINDOW 2>/dev/null | stamp >"$focus_log" &
ORVANE_CAMERA_FILES="$clip" "$build/src/orvane" 2> >(stamp >"$log") >/dev/null &
pid=$!

started_at() { awk -v what="$1" 'index($0, what) { print $1; exit }' "$log"; }
poll 60 eval '[[ -n $(started_at "pipeline started") ]]' ||
    { echo "orvane did not start its pipeline" >&2; cat "$log"; exit 1; }
t0=$(started_at "pipeline started")

rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
descriptors() { find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l; }
threads() { awk '/^Threads/ { print $2 }' "/proc/$pid/status"; }
# The threads by name, for telling which one a growth added.
thread_names() { cat "/proc/$pid/task/"*/comm 2>/dev/null | sort | uniq -c | tr -s ' \n' ' '; }
alive() { kill -0 "$pid" 2>/dev/null; }
# Waits until `at` seconds after the pipeline started, or until orvane ends.
wait_until() {
    local at="$1"
    while alive && perl -MTime::HiRes=time -e "exit(time < $t0 + $at ? 0 : 1)"; do
        sleep 0.5
    done
}

baseline=60
((seconds < 2 * baseline)) && baseline=$((seconds / 2))
# The first reading once everything is in use: the face model (read in the background), what
# the first focus switch opens, and what a whole loop of the clip has used (some of it only
# once the face comes back after the empty stretch).
loop_seconds=$(((turn_frames + faceless_frames) / fps))
((baseline < loop_seconds + 3)) && baseline=$((loop_seconds + 3))
echo "start:        descriptors $(descriptors), threads $(threads), resident $(rss_kb) kB"
poll 60 grep -q 'focused ' "$log" || echo "no focus switch within 60 s" >&2
wait_until "$baseline"
rss_first=$(rss_kb) fds_first=$(descriptors) threads_first=$(threads) names_first=$(thread_names)
printf '%-14s%s\n' "after $baseline s:" \
    "descriptors $fds_first, threads $threads_first, resident $rss_first kB"
peak=$rss_first
for ((at = baseline + 10; at < seconds; at += 10)); do
    wait_until "$at"
    alive || break
    rss=$(rss_kb)
    ((rss > peak)) && peak=$rss
done
wait_until "$seconds"
if ! alive; then
    echo "FAIL: orvane ended during the run" >&2
    tail -n 20 "$log"
    exit 1
fi
rss_end=$(rss_kb)
# A leak stays: the fewest over a few readings, so that a file open for a moment (the clip
# reopened at its loop) is not taken for one.
fds_end=$(descriptors) threads_end=$(threads) names_end=$(thread_names)
for ((i = 0; i < 4; i++)); do
    sleep 0.25
    fds=$(descriptors) count=$(threads)
    ((fds < fds_end)) && fds_end=$fds
    ((count < threads_end)) && threads_end=$count
done
t_end=$(perl -MTime::HiRes=time -e 'printf "%.3f", time')
echo "at the end:   descriptors $fds_end, threads $threads_end, resident $rss_end kB" \
    "(peak after $baseline s $peak kB)"
kill -TERM "$pid"
poll 15 eval '! alive' || { echo "FAIL: orvane did not stop on SIGTERM" >&2; kill -KILL "$pid"; }
wait "$pid"
status=$?

# Focus changes against the clip's timeline. A loop starts when the player opens the file
# again (a busy machine delays frames, so the loops drift from any fixed schedule); the first
# starts with the pipeline. A loop's faceless stretch runs from its turn's end to the next open.
face_end=$(awk -v a="$turn_frames" -v f="$fps" 'BEGIN { print a / f }')
read -r changes faceless_changes stretches < <(awk -v t0="$t0" -v face="$face_end" \
    -v grace="$grace_seconds" -v edge="$edge_seconds" -v end="$t_end" '
    FILENAME == ARGV[1] { if ($1 > t0 && (k == 0 || $1 - loop[k - 1] > 1)) loop[k++] = $1; next }
    /window id/ { if ($1 >= t0) change[n++] = $1 }
    END {
        starts[0] = t0; for (i = 0; i < k; i++) starts[i + 1] = loop[i]; starts[k + 1] = end
        for (i = 0; i <= k; i++) {
            from = starts[i] + face + grace; to = starts[i + 1] - edge
            if (to <= from) continue
            whole++
            for (j = 0; j < n; j++) if (change[j] >= from && change[j] < to) {
                bad++; printf "focus moved %.1f s into a faceless stretch (at %.1f s)\n",
                    change[j] - starts[i] - face, change[j] - t0 > "/dev/stderr" }
        }
        print n + 0, bad + 0, whole + 0 }' "$opens_log" "$focus_log")
echo "focus changes: $changes; during the $stretches faceless stretches: $faceless_changes"
echo "status changes logged: $(grep -c 'status: ' "$log")," \
    "focus switches logged: $(grep -c 'focused ' "$log")"

failures=0
growth=$((rss_end - rss_first))
if ((seconds >= 120)); then
    echo "resident memory growth after $baseline s: $growth kB (limit $growth_limit_kb kB)"
    ((growth < growth_limit_kb)) || fail "resident memory grew by $growth kB"
else
    # Within a minute or so a leak cannot be told from the allocator's ups and downs.
    echo "resident memory growth after $baseline s: $growth kB (not judged in a short run)"
fi
((fds_end <= fds_first)) || fail "open descriptors grew from $fds_first to $fds_end"
((threads_end <= threads_first)) ||
    fail "threads grew from $threads_first to $threads_end (from:$names_first to:$names_end)"
((faceless_changes == 0)) || fail "focus moved while the clip showed no face"
((changes > 0)) || fail "focus never moved"
[[ $status -eq 0 ]] || fail "orvane exited with status $status"
grep -q -E 'ERROR: (Address|Leak|Thread)Sanitizer|runtime error:' "$log" &&
    fail "a sanitizer reported a fault"
if ((failures > 0)); then
    tail -n 20 "$log"
    exit 1
fi
echo "soak passed"
