#!/usr/bin/env bash
# Installs everything Orvane needs to build, run and test on Debian 12 or later. Run as root.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang-format
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
    libglib2.0-bin util-linux procps git
)

if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps.sh installs system packages: run it as root (sudo $0)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${packages[@]}"
