#!/usr/bin/env bash
# Builds the Debian package from a release build of the application alone (in build/, as
# scripts/build.sh makes it, or in BUILD_DIR), installs it, checks that every file is where a
# desktop looks for it, and runs the installed program: `orvane --diagnose` on the throw-away
# desktop, and the camera probe on a photo (which proves that the installed program finds the
# face model), and `orvane --diagnose` on a headless GNOME Shell with the installed extension. The
# package stays installed. Needs root, or sudo to become it.
#
#   scripts/ci-package.sh
#   scripts/ci-package.sh --build-only   builds the application and stops
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
    echo "ci-package: $*" >&2
    exit 1
}

as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo -- "$@"
    else
        fail "installing the package needs root, and there is no sudo"
    fi
}

# --- Build and package ------------------------------------------------------------------------
build="$(realpath -m "${BUILD_DIR:-build}")"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_BUILD_BENCH=OFF
cmake --build "$build" --parallel "$(nproc)"
[[ ${1:-} == --build-only ]] && exit 0
rm -f "$build"/orvane_*.deb
(cd "$build" && cpack -G DEB)
packages=("$build"/orvane_*.deb)
[[ ${#packages[@]} -eq 1 && -f ${packages[0]} ]] || fail "cpack made no single orvane_*.deb"
package="${packages[0]}"
echo "--- $(basename "$package")"
dpkg-deb --field "$package" Package Version Architecture Depends Recommends

# --- Install ----------------------------------------------------------------------------------
# --reinstall: a rebuilt package of the same version must still replace the installed files.
# What the package only recommends is not needed for these checks.
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall --no-install-recommends \
    "$package"

# --- Installed files ------------------------------------------------------------------------
failures=0
check() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
check "/usr/bin/orvane is executable" test -x /usr/bin/orvane
for file in /usr/share/applications/net.orvane.Orvane.desktop \
    /usr/share/metainfo/net.orvane.Orvane.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/net.orvane.Orvane.svg \
    /usr/share/doc/orvane/LICENSE /usr/share/doc/orvane/THIRD-PARTY \
    /usr/share/orvane/70-orvane-input.rules; do
    check "$file is installed" test -s "$file"
    check "$file belongs to the package" bash -c 'dpkg -S "$1" >/dev/null' - "$file"
done
# Both forms of the GNOME Shell extension: the running shell loads the one for its release.
for uuid in bridge@orvane.net bridge-modules@orvane.net; do
    for file in extension.js metadata.json; do
        path="/usr/share/gnome-shell/extensions/$uuid/$file"
        check "$path is installed" test -s "$path"
        check "$path belongs to the package" bash -c 'dpkg -S "$1" >/dev/null' - "$path"
    done
done
# The input rule tags keyboards and pointers for the seat's user, never a group; before
# 73-seat-late.rules, which applies the tag.
check "the input rule grants through uaccess alone" bash -c \
    'rule=/usr/share/orvane/70-orvane-input.rules; grep -q "TAG+=\"uaccess\"" "$rule" &&
     ! grep -Eq "GROUP|MODE|OWNER" "$rule"'
# Installing Orvane switches nothing on: the rule waits for an administrator's link.
check "the input rule is not switched on by the package" bash -c \
    '! dpkg -L orvane | grep -q "udev/rules.d"'
check "the package takes a rule it was given away with it" bash -c \
    'dpkg-deb --ctrl-tarfile "$1" | tar -t | grep -q postrm' - "$package"
check "the desktop entry is valid" desktop-file-validate \
    /usr/share/applications/net.orvane.Orvane.desktop
check "the metainfo is valid" appstreamcli validate --no-net \
    /usr/share/metainfo/net.orvane.Orvane.metainfo.xml
check "every library the program needs is there" \
    bash -c '! ldd /usr/bin/orvane | grep -q "not found"'
# The cameras and the face pipeline come as a module the program opens once its icon shows:
# the program itself links none of their libraries, so its start does not wait for them.
vision=$(dpkg -L orvane | grep '/orvane/liborvane-vision\.so$' || true)
check "the camera and face module is installed" test -s "$vision"
check "every library the camera and face module needs is there" \
    bash -c '! ldd "$1" | grep -q "not found"' - "$vision"
check "the program starts without the face libraries" \
    bash -c '! ldd /usr/bin/orvane | grep -Eq "libopencv|libdlib|libblas|liblapack"'
check "the package depends on the face model" \
    bash -c 'dpkg-query -W -f="\${Depends}" orvane | grep -q "libdlib-data"'

# --- The installed program ------------------------------------------------------------------
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
report="$scratch/report"
mkdir -p "$scratch/home" "$scratch/config" "$scratch/data"
if scripts/test-desktop.sh /usr/bin/orvane --diagnose >"$report" 2>&1; then
    echo "ok: orvane --diagnose on the test desktop"
else
    echo "FAIL: orvane --diagnose on the test desktop" >&2
    failures=$((failures + 1))
fi
cat "$report"
check "the report names the installed program" grep -q '^bundle path: /usr/bin/orvane$' "$report"
# On GNOME on Wayland, with the installed extension loaded by a headless shell.
if ORVANE_GNOME_EXTENSIONS=/usr/share/gnome-shell/extensions/bridge@orvane.net \
    scripts/gnome-desktop.sh /usr/bin/orvane --diagnose >"$report" 2>&1; then
    echo "ok: orvane --diagnose on a headless GNOME Shell"
else
    echo "FAIL: orvane --diagnose on a headless GNOME Shell" >&2
    failures=$((failures + 1))
fi
cat "$report"
check "the report names the bridge of the shell as ready" grep -q '^bridge: *ready' "$report"
# GNOME 48 from its Debian 13 root, which loads the ES module form (installed here, copied
# into the shell's data folder).
if root="$(scripts/debian13-root.sh)"; then
    if ORVANE_GNOME_ROOT="$root" \
        ORVANE_GNOME_EXTENSIONS=/usr/share/gnome-shell/extensions/bridge-modules@orvane.net \
        scripts/gnome-desktop.sh /usr/bin/orvane --diagnose >"$report" 2>&1; then
        echo "ok: orvane --diagnose on a headless GNOME Shell 48"
    else
        echo "FAIL: orvane --diagnose on a headless GNOME Shell 48" >&2
        failures=$((failures + 1))
    fi
    cat "$report"
    check "the report names GNOME Shell 48" grep -q '^session: *Wayland, GNOME Shell 48\.' "$report"
    check "the report names the modules bridge as ready" \
        grep -q '^bridge: *ready (version 2, bridge-modules@orvane.net)' "$report"
elif [[ $? -eq 77 ]]; then
    echo "skipped: orvane --diagnose on GNOME Shell 48 (no root: scripts/debian13-root.sh)"
else
    echo "FAIL: scripts/debian13-root.sh could not make the GNOME 48 root" >&2
    failures=$((failures + 1))
fi

photo=/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg
if [[ -f $photo ]]; then
    ORVANE_CAMERA_FILES="$photo" QT_QPA_PLATFORM=offscreen HOME="$scratch/home" \
        XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
        /usr/bin/orvane --probe-camera 10 >"$report" 2>&1 || true
    cat "$report"
    check "the installed program finds a face with the installed model" \
        grep -q '^VERDICT: pipeline healthy' "$report"
else
    echo "skipped: the camera probe (no $photo; python-matplotlib-data)"
fi

if [[ $failures -gt 0 ]]; then
    fail "$failures check(s) failed"
fi
echo "ci-package: the package installs and runs"
