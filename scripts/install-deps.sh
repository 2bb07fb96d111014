#!/usr/bin/env bash
# Installs everything Orvane needs to build, run, test and package on Debian 12 or later. As
# root, or through sudo, which it asks for itself.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang-format ccache
    # the fuzz targets (scripts/ci-fuzz.sh)
    clang libclang-rt-dev
    # libraries
    nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-svg-dev libsystemd-dev
    libx11-dev libxrandr-dev libxi-dev libxtst-dev libxres-dev libxext-dev libxcb1-dev
    libatspi2.0-dev libglib2.0-dev libopencv-dev libdlib-dev libturbojpeg0-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
    # the face landmark model
    libdlib-data
    # photos of faces (and of no face) for the face and camera tests
    python-matplotlib-data python3-skimage
    # the throw-away test desktop and its clients
    xvfb x11-xserver-utils x11-utils openbox trayer xcompmgr xterm gtk-3-examples xdotool dbus dbus-x11 at-spi2-core
    libglib2.0-bin gsettings-desktop-schemas util-linux procps git
    # real GTK 3, GTK 4 and Qt 6 programs the X11 tests drive (tests/linux/clients), the
    # launchers the launcher guard must name, and browsers' password fields
    python3-gi gir1.2-gtk-3.0 gir1.2-gtk-4.0 gir1.2-atspi-2.0 python3-pyqt6 rofi suckless-tools
    chromium firefox-esr
    # the window managers the test desktop can run instead of openbox (ORVANE_DESKTOP_WM)
    mutter kwin-x11 i3-wm fluxbox icewm
    # terminals with split panes, and the terminals whose password prompts must hold focus
    konsole terminator foot gnome-terminal
    # checking and packaging the desktop files and the Debian package
    desktop-file-utils appstream file
    # the GNOME tests: Qt on Wayland, a parser for the generated shell extensions, and the
    # maker of the Debian 13 roots the newer compositors and foot run from
    # (scripts/debian13-root.sh)
    qt6-wayland nodejs mmdebstrap
    # the KWin and sway backends' Wayland protocols (activity, the dot's layer surface; KDE's
    # idle protocol for sway 1.7), the opt-in input devices, and the compositors their tests
    # run headless
    libwayland-dev wayland-protocols plasma-wayland-protocols libevdev-dev kwin-wayland sway
    # reading the screen of a headless wlroots compositor back (the gaze dot's tests)
    grim
    # a virtual keyboard for the sway tests, which press the pause chord as a keyboard would
    wtype
    # the bus filter Flatpak puts between a sandbox and the session bus (the GNOME bridge's
    # hostile-peer test)
    xdg-dbus-proxy
)

if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        exec sudo -- "$(realpath "$0")" "$@"
    fi
    echo "install-deps.sh installs system packages and there is no sudo: run it as root" \
        "(su -c $(realpath "$0"))" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${packages[@]}"
# The headless GNOME Shell of the GNOME tests (scripts/gnome-desktop.sh), without the whole
# desktop its recommendations bring.
apt-get install -y --no-install-recommends gnome-shell
