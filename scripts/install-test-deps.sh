#!/usr/bin/env bash
# Installs what the tests drive, beyond what building and running need (scripts/install-deps.sh):
# the test frameworks, the real desktops and programs of the end-to-end tests (window managers,
# compositors, GNOME Shell, browsers, terminals), the fuzzing compiler and the package checks.
# scripts/test.sh calls it; when everything is already there it returns at once, without root.
# Otherwise as root, or through sudo, which it asks for itself.
set -euo pipefail

packages=(
    # checking the formatting, reusing compilations, listing the sources
    clang-format ccache git
    # the fuzz targets (scripts/ci-fuzz.sh)
    clang libclang-rt-dev
    # test and benchmark frameworks
    libgtest-dev libgmock-dev libbenchmark-dev
    # photos of faces (and of no face) for the face and camera tests
    python3-skimage
    # the test desktop's tray host and compositor, and its GTK demonstration programs
    trayer xcompmgr gtk-3-examples
    # real GTK 3, GTK 4 and Qt 6 programs the X11 tests drive (tests/linux/clients), the
    # launchers the launcher guard must name, and browsers' password fields
    python3-gi gir1.2-gtk-3.0 gir1.2-gtk-4.0 gir1.2-atspi-2.0 python3-pyqt6 rofi suckless-tools
    chromium firefox-esr
    # the window managers the test desktop can run instead of openbox (ORVANE_DESKTOP_WM)
    mutter kwin-x11 i3-wm fluxbox icewm
    # terminals with split panes, and the terminals whose password prompts must hold focus
    konsole terminator foot gnome-terminal
    # the terminal multiplexer whose panes follow the gaze through its own commands
    tmux
    # checking and packaging the desktop files and the Debian package
    desktop-file-utils appstream file
    # the GNOME tests: a parser for the generated shell extensions, and the maker of the
    # Debian 13 roots the newer compositors and foot run from (scripts/debian13-root.sh)
    nodejs mmdebstrap
    # the compositors the KWin and sway tests run headless
    kwin-wayland sway
    # reading the screen of a headless wlroots compositor back (the gaze dot's tests)
    grim
    # a virtual keyboard for the sway tests, which press the pause chord as a keyboard would
    wtype
    # the bus filter Flatpak puts between a sandbox and the session bus (the GNOME bridge's
    # hostile-peer test)
    xdg-dbus-proxy
)
# The headless GNOME Shell of the GNOME tests (scripts/gnome-desktop.sh), and the window
# managers of XFCE, Cinnamon and MATE with the settings schemas they read at start, all without
# the whole desktops their recommendations bring; the X server with one output per monitor that
# xfwm4 needs (scripts/test-desktop.sh).
bare_packages=(gnome-shell xfwm4 muffin marco cinnamon-settings-daemon mate-settings-daemon-common
    xserver-xorg-core xserver-xorg-video-dummy)

installed() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Status}\n' "$@" 2>/dev/null) || return 1
    ! grep -qv '^installed$' <<<"$status"
}
if installed "${packages[@]}" "${bare_packages[@]}"; then
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        exec sudo -- "$(realpath "$0")" "$@"
    fi
    echo "install-test-deps.sh installs system packages and there is no sudo: run it as root" \
        "(su -c $(realpath "$0"))" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${packages[@]}"
apt-get install -y --no-install-recommends "${bare_packages[@]}"
