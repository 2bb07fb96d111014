#!/usr/bin/env bash
# Installs what Orvane needs to build and run on Debian 12 or later, the demonstration
# scripts/run.sh shows where there is no display included. What only the tests, the fuzzing and
# the packaging drive (compositors, browsers, terminals, window managers) is installed by
# scripts/install-test-deps.sh, which scripts/test.sh calls. As root, or through sudo, which it
# asks for itself.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config
    # libraries
    nlohmann-json3-dev qt6-base-dev qt6-svg-dev libsystemd-dev
    libx11-dev libxrandr-dev libxi-dev libxtst-dev libxres-dev libxext-dev libxcb1-dev
    libatspi2.0-dev libglib2.0-dev libopencv-dev libdlib-dev libturbojpeg0-dev libjpeg62-turbo-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
    # dlib's CMake package links the BLAS and LAPACK development links, which it does not pull in
    libblas-dev liblapack-dev
    # the KWin and sway backends' Wayland protocols (activity, the dot's layer surface; KDE's
    # idle protocol for sway 1.7) and the opt-in input devices
    libwayland-dev wayland-protocols plasma-wayland-protocols libevdev-dev
    # the face landmark model, and the photo the demonstration's head-turn clip is made from
    libdlib-data python-matplotlib-data
    # running: the accessibility bus, Qt on Wayland, the desktop's settings
    at-spi2-core qt6-wayland gsettings-desktop-schemas
    # the demonstration's throw-away desktop (scripts/test-desktop.sh): an X server with its
    # tools, a window manager, a terminal, private buses
    xvfb x11-xserver-utils x11-utils openbox xterm xdotool dbus dbus-x11 libglib2.0-bin
    util-linux procps
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
