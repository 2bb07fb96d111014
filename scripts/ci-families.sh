#!/usr/bin/env bash
# Builds Orvane without some of its desktop families (Release, the program alone) and runs it
# on a throw-away X desktop:
# - without its Wayland backends and input device guards (in build-x11-only/): `orvane
#   --diagnose` works there and names what the build lacks, and told it is in a Wayland session,
#   it says it cannot work there rather than failing;
# - with the Wayland backends but without the input device guards (in build-no-evdev/), which
#   every compositor's backend must build without.
# The builds share the release build's compilations through ccache, apart from the few files
# that choose among the families.
#
#   scripts/ci-families.sh
#   scripts/ci-families.sh --build-only   builds and stops
set -euo pipefail
cd "$(dirname "$0")/.."

build="$(realpath -m build-x11-only)"
no_evdev="$(realpath -m build-no-evdev)"
configure() {
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
        -DORVANE_BUILD_BENCH=OFF "${@:2}"
    cmake --build "$1" --parallel "$(nproc)" --target orvane orvane_vision_module
}
configure "$build" -DORVANE_WAYLAND=OFF -DORVANE_EVDEV=OFF
configure "$no_evdev" -DORVANE_EVDEV=OFF
[[ ${1:-} == --build-only ]] && exit 0

orvane="$build/src/orvane"
failures=0
check() {
    local what="$1" pattern="$2" text="$3"
    if grep -qE -- "$pattern" <<<"$text"; then
        echo "ok: $what"
    else
        echo "FAIL: $what (no \"$pattern\" in:)" >&2
        echo "$text" >&2
        failures=$((failures + 1))
    fi
}

# Nothing of Wayland or evdev is linked in.
libraries="$(ldd "$orvane")"
if grep -qE 'libwayland|libevdev' <<<"$libraries"; then
    echo "FAIL: the program links Wayland or evdev libraries:" >&2
    grep -E 'libwayland|libevdev' <<<"$libraries" >&2
    failures=$((failures + 1))
else
    echo "ok: no Wayland or evdev library is linked"
fi

# On X11 it works, and says what it was built without.
report="$(scripts/test-desktop.sh "$orvane" --diagnose 2>&1)" || true
check "--diagnose names the missing families" \
    "^built without: Wayland support \(GNOME Shell, KWin, sway, Hyprland, labwc, Wayfire\), input device guards \(evdev\)$" \
    "$report"
check "--diagnose lists the X desktop's monitors" "^  LEFT: 1280x1080 at \(0,0\)$" "$report"
if grep -q "UNSUPPORTED" <<<"$report"; then
    echo "FAIL: the X11 session is called unsupported" >&2
    failures=$((failures + 1))
fi

# In a Wayland session it cannot work, and says why instead of failing.
report="$(scripts/test-desktop.sh env XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-0 \
    XDG_CURRENT_DESKTOP=GNOME "$orvane" --diagnose 2>&1)" || true
check "--diagnose calls a Wayland session unsupported" "^session: +UNSUPPORTED" "$report"
check "--diagnose says the build lacks Wayland support" \
    "^This Orvane was built without Wayland support" "$report"

# With Wayland but no input device guards: nothing of evdev, and only that said missing.
if grep -q libevdev <<<"$(ldd "$no_evdev/src/orvane")"; then
    echo "FAIL: the build without evdev links libevdev" >&2
    failures=$((failures + 1))
else
    echo "ok: the build without evdev links no evdev library"
fi
report="$(scripts/test-desktop.sh "$no_evdev/src/orvane" --diagnose 2>&1)" || true
check "--diagnose names only the input device guards as missing" \
    "^built without: input device guards \(evdev\)$" "$report"

[[ $failures -eq 0 ]] || { echo "ci-families: $failures check(s) failed" >&2; exit 1; }
echo "ci-families: passed"
