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
    # the face landmark model
    libdlib-data
    # photos of faces (and of no face) for the face and camera tests
    python-matplotlib-data python3-skimage
    # the throw-away test desktop and its clients
    xvfb x11-xserver-utils x11-utils openbox trayer xcompmgr xterm gtk-3-examples xdotool dbus dbus-x11 at-spi2-core
    libglib2.0-bin gsettings-desktop-schemas util-linux procps git
    # checking and packaging the desktop files and the Debian package
    desktop-file-utils appstream file
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
