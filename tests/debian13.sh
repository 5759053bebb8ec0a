#!/usr/bin/env bash
# Builds kfdtopo in a minimal Debian 13 root against Debian 13's own libhsakmt-dev, named with
# -DHSAKMT_ROOT=/usr, and without Graphviz's development files, and runs the suite there. The
# root is made once with debootstrap from the machine's Debian mirror and kept under
# build/debian13, so a second run only builds and tests; its dpkg status as debootstrap left it
# is kept as /var/lib/dpkg/status.minbase, for counting what a package pulls into a minimal root.
# Usage: debian13.sh         copy the tracked files into the root, build and test there
#        debian13.sh root    print the root's path, making it first if needed
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache="$repo/build/debian13"
root="$cache/root"
release=trixie
packages=(g++ cmake make binutils python3 libhsakmt-dev nlohmann-json3-dev libgtest-dev
    zlib1g-dev clustershell pdsh pkgconf xz-utils)
# The suite there runs without Graphviz: its development files are removed when found.
absent=(libgraphviz-dev)

log() { printf 'debian13: %s\n' "$*" >&2; }

# Stage 1: the minimal root, made once.
make_root() {
    [ -f "$cache/root.done" ] && [ -f "$root/var/lib/dpkg/status.minbase" ] && return
    local mirror
    mirror=$(bash "$repo/scripts/debian-mirror.sh")
    log "making a minimal Debian $release root in $root from $mirror"
    rm -rf "$root"
    mkdir -p "$cache"
    debootstrap --variant=minbase "$release" "$root" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -n 20 "$cache/debootstrap.log" >&2; return 1; }
    cp "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/status.minbase"
    touch "$cache/root.done"
}

# Stage 2: the build dependencies, installed when one is missing; Graphviz's removed.
install_packages() {
    if chroot "$root" dpkg-query -W -f='${Status}\n' "${absent[@]}" 2>/dev/null | grep -q ' installed$'; then
        log "removing ${absent[*]}"
        chroot "$root" env DEBIAN_FRONTEND=noninteractive \
            apt-get purge -y -qq --autoremove "${absent[@]}" >"$cache/packages.log" 2>&1 ||
            { tail -n 20 "$cache/packages.log" >&2; return 1; }
    fi
    chroot "$root" dpkg-query -W "${packages[@]}" >/dev/null 2>&1 && return
    log "installing ${packages[*]}"
    chroot "$root" apt-get update -qq
    chroot "$root" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${packages[@]}" >"$cache/packages.log" 2>&1 ||
        { tail -n 20 "$cache/packages.log" >&2; return 1; }
}

# Stage 3: the tracked files at /src (its build/ kept for the next run), built and tested.
build_and_test() {
    find "$root/src" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} + 2>/dev/null || true
    mkdir -p "$root/src"
    git -C "$repo" ls-files -z | tar -C "$repo" --null --ignore-failed-read -T - -cf - |
        tar -C "$root/src" -xf -
    mount -t proc proc "$root/proc"
    trap 'umount "$root/proc"' EXIT
    chroot "$root" /bin/sh -c 'cd /src && cmake --preset dev -DHSAKMT_ROOT=/usr &&
        cmake --build --preset dev && ctest --preset dev'
}

make_root
if [ "${1:-}" = root ]; then
    printf '%s\n' "$root"
    exit 0
fi
install_packages
build_and_test
