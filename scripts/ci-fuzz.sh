#!/usr/bin/env bash
# Fuzzes what Orvane reads from disk, from KWin's script, sway's and Hyprland's IPC sockets and
# the GNOME Shell bridge's answers: builds the libFuzzer targets in fuzz/ with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each from its corpus in
# fuzz/corpus/<target>. Fails on any crash, leak, sanitizer report, failed check or slow input.
#
#   scripts/ci-fuzz.sh              100 s of fuzzing in all, split between the targets
#   FUZZ_SECONDS=600 scripts/ci-fuzz.sh
#   BUILD_DIR=/tmp/fuzz scripts/ci-fuzz.sh
#   scripts/ci-fuzz.sh --build-only   builds the targets and stops
#
# Inputs found on the way are kept in the build directory, never in the tree; a failing input
# is written to <build>/artifacts/. To grow the corpus in the tree, minimise into it:
#   <build>/fuzz/fuzz_<target> -merge=1 fuzz/corpus/<target> <directory of new inputs>
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-100}
targets=(calibration_file preferences settings_file kwin_script_messages sway_ipc
    hyprland_ipc gnome_bridge_replies landmark_model)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_FUZZ=ON -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_targets
[[ ${1:-} == --build-only ]] && exit 0

share=$((seconds / ${#targets[@]}))
((share > 0)) || share=1
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=()
for target in "${targets[@]}"; do
    found="$build/found/$target"
    mkdir -p "$found"
    dictionary=()
    if [[ -f "$root/fuzz/$target.dict" ]]; then
        dictionary=(-dict="$root/fuzz/$target.dict")
    fi
    echo "== fuzz_$target for ${share} s"
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$share" -timeout=5 -rss_limit_mb=1024 \
        -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "${dictionary[@]}" "$found" "$root/fuzz/corpus/$target" 2>"$build/fuzz_$target.log"; then
        tail -n 60 "$build/fuzz_$target.log" >&2
        failed+=("$target")
    else
        grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' \
            "$build/fuzz_$target.log" || true
    fi
done

if ((${#failed[@]} > 0)); then
    echo "fuzzing failed: ${failed[*]} (inputs in $build/artifacts)" >&2
    exit 1
fi
echo "fuzzing passed: ${targets[*]}"
