#!/usr/bin/env bash
# How far the head angles read on the head-turn clip stray from the turn it was made with
# (20 degrees either way and back over each 90 frames, demo/FacePhotos.cpp), over a few runs
# that differ only by noise no camera would notice (orvane_pose_trace's noise=SEED). The
# detector carries each frame's box into the next, so one run alone is one draw among many:
# compare two builds by their ranges over the same seeds.
#
#   bench/pose-spread.sh BUILD_DIR [SEEDS] [ROUNDS]
#
# SEEDS runs (default 8) of ROUNDS plays of the clip (default 5), at half size as a followed
# face is read. For each: yaw's RMS and largest distance from the true turn, pitch's spread
# (the head does not nod), and the frames whose yaw falls in another third of the turn than the
# true one's (three displays side by side); then their means and ranges.
set -euo pipefail
build="$(realpath "${1:?usage: $0 BUILD_DIR [SEEDS] [ROUNDS]}")"
seeds="${2:-8}"
rounds="${3:-5}"
# shellcheck source=webcam-clips.sh
source "$(dirname "$0")/webcam-clips.sh"
make_webcam_clips "$build"
clip="$build/demo/webcam-face.avi"
for ((seed = 1; seed <= seeds; ++seed)); do
    "$build/bench/orvane_pose_trace" "$clip" "$rounds" 5 2 "noise=$seed" 2>/dev/null |
        awk -v seed="$seed" '
            function third(yaw) { t = int(3 * (yaw + 20) / 40); return t < 0 ? 0 : (t > 2 ? 2 : t) }
            # The first frame is read before any box is carried over.
            NR > 1 && $2 > 0 { n++; frame[n] = $1; yaw[n] = $3; pitch[n] = $4
                               turn[n] = 20 * sin(2 * 3.14159265358979 * ($1 % 90) / 90)
                               along += yaw[n] * turn[n] }
            NR > 1 && $2 == 0 { lost++ }
            END {
                if (n == 0) { print "FAIL: seed " seed ": no face read"; exit 1 }
                sign = along < 0 ? -1 : 1 # the clip is read mirrored
                for (i = 1; i <= n; i++) {
                    e = sign * yaw[i] - turn[i]; sq += e * e; if (e < 0) e = -e; if (e > worst) worst = e
                    if (third(sign * yaw[i]) != third(turn[i])) other++
                    mean += pitch[i] }
                mean /= n
                for (i = 1; i <= n; i++) spread += (pitch[i] - mean) ^ 2
                printf "seed %d: yaw %.2f deg RMS from the turn, %.1f at worst; pitch spread %.2f deg; %d of %d frames in another third; %d without a face\n",
                    seed, sqrt(sq / n), worst, sqrt(spread / n), other, n, lost + 0 }'
done | tee /dev/stderr | awk '
    { rms[NR] = $4; pitch[NR] = $15; other[NR] = $17 }
    END {
        for (i = 1; i <= NR; i++) { r += rms[i]; p += pitch[i]; o += other[i]
            if (i == 1 || rms[i] < rlo) rlo = rms[i]; if (rms[i] > rhi) rhi = rms[i]
            if (i == 1 || pitch[i] < plo) plo = pitch[i]; if (pitch[i] > phi) phi = pitch[i] }
        printf "over %d runs: yaw %.2f deg RMS (%.2f-%.2f), pitch spread %.2f deg (%.2f-%.2f), %.1f frames in another third\n",
            NR, r / NR, rlo, rhi, p / NR, plo, phi, o / NR }'
