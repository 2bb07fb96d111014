#!/usr/bin/env bash
# Makes (once) a Debian 13 root file system holding the newer compositors (GNOME Shell 48,
# KWin 6, sway 1.10) and what they need to run headless, for the desktop scripts to run them
# from by chroot (scripts/gnome-desktop.sh with ORVANE_GNOME_ROOT=DIR, and so on). Prints the
# root's folder. A finished root is reused; one made from another package list is replaced.
# The root is made in a temporary folder beside it and renamed at the end, so an interrupted
# run leaves no half root behind. Needs root and the network (the first time). Packages named
# after DIR make a root of those instead (a program the tests need in its Debian 13 release),
# which lives beside the compositors' root without replacing it.
#
#   scripts/debian13-root.sh [DIR [PACKAGE...]]     (default: /var/cache/orvane/debian13-root)
#
# Exit status 77 when the root is missing and the Debian mirror cannot be reached: the tests
# that need it skip rather than fail.
set -euo pipefail

root="${1:-/var/cache/orvane/debian13-root}"
suite=trixie
mirror="${ORVANE_DEBIAN13_MIRROR:-http://deb.debian.org/debian}"
# mmdebstrap installs no recommendations: the software renderer, a font and the SVG loader
# (for the icons Orvane gives the top bar) are named here.
packages=(gnome-shell kwin-wayland sway libgl1-mesa-dri libegl-mesa0 fonts-cantarell
    librsvg2-common)
[[ $# -gt 1 ]] && packages=("${@:2}")
stamp_name=.orvane-root
stamp="$suite ${packages[*]}"

complete() { [[ "$(cat "$1/$stamp_name" 2>/dev/null)" == "$stamp" ]]; }

if complete "$root"; then
    echo "$root"
    exit 0
fi
[[ $(id -u) -eq 0 ]] || { echo "debian13-root.sh: making $root needs root" >&2; exit 1; }
command -v mmdebstrap >/dev/null ||
    { echo "debian13-root.sh: mmdebstrap is not installed (scripts/install-deps.sh)" >&2; exit 1; }

parent="$(dirname "$root")"
mkdir -p "$parent"
# One maker at a time: a second run waits, then finds the root made.
exec {lock}>"$root.lock"
flock "$lock"
if complete "$root"; then
    echo "$root"
    exit 0
fi

host="${mirror#*://}"
host="${host%%/*}"
port=80
[[ $mirror == https://* ]] && port=443
if [[ $host == *:* ]]; then
    port="${host##*:}"
    host="${host%:*}"
fi
if ! timeout 10 bash -c "exec 3<>/dev/tcp/$host/$port" 2>/dev/null; then
    echo "debian13-root.sh: cannot reach $host to make $root" >&2
    exit 77
fi

# Leftovers of interrupted runs.
rm -rf "$root".new.* "$root".old.*
new="$(mktemp -d "$root.new.XXXXXX")"
trap 'rm -rf "$new"' EXIT
chmod 755 "$new"
mmdebstrap --variant=apt --include="$(IFS=,; echo "${packages[*]}")" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    "$suite" "$new" "$mirror" >&2
printf '%s\n' "$stamp" >"$new/$stamp_name"
if [[ -e "$root" ]]; then
    old="$root.old.$$"
    mv -T "$root" "$old"
    mv -T "$new" "$root"
    rm -rf "$old"
else
    mv -T "$new" "$root"
fi
trap - EXIT
echo "$root"
