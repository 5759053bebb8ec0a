#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build and test kfdtopo. Idempotent; quick when done.
#
# Installs the build dependencies from the machine's own Debian release and unpacks the
# public header of Debian 13's libhsakmt-dev (same record sizes, plus the recent node
# fields) under build/deps/include, through a private apt configuration under build/deps
# that reuses the mirror of the machine's Debian sources. Nothing system-wide changes for
# that header.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/build/deps"
header_release=trixie
packages=(g++ cmake make dpkg-dev binutils valgrind hyperfine python3 libhsakmt-dev nlohmann-json3-dev libgtest-dev clang libclang-rt-14-dev)

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi

log() { printf 'setup: %s\n' "$*"; }

missing_packages() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            printf '%s\n' "$p"
    done
}

install_packages() {
    local missing
    mapfile -t missing < <(missing_packages)
    if [ "${#missing[@]}" -eq 0 ]; then
        log "packages present"
        return
    fi
    log "installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# True when a header that CMake would pick already has the recent fields.
have_recent_header() {
    local h
    for h in /opt/rocm/include/hsakmt/hsakmttypes.h /usr/include/hsakmt/hsakmttypes.h \
        "$deps/include/hsakmt/hsakmttypes.h"; do
        if [ -f "$h" ] && grep -q 'KFDGpuID' "$h"; then
            log "recent libhsakmt header: ${h%/*}"
            return 0
        fi
    done
    return 1
}

# The first Debian archive URI of the machine's apt sources (deb822 or one-line style)
# whose suites include the release itself, not only its updates or security suites.
debian_mirror() {
    local codename uri
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    uri=$(awk -v want="$codename" '
        function flush() { if (uris != "" && types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " want " ")) { split(uris, u, " "); print u[1]; found = 1; exit } uris = ""; suites = ""; types = "" }
        /^[[:space:]]*$/ { flush(); next }
        /^Types:/  { sub(/^Types:[[:space:]]*/, ""); types = $0 }
        /^URIs:/   { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
        /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
        END { if (!found) flush() }
    ' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
        uri=$(awk -v want="$codename" '$1 == "deb" {
            i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) == want) { print $i; exit } }' /etc/apt/sources.list)
    fi
    [ -n "$uri" ] || { echo "setup: no Debian mirror found in the apt sources" >&2; return 1; }
    printf '%s\n' "${uri%/}"
}

fetch_recent_header() {
    local mirror apt_dir work deb
    mirror=$(debian_mirror)
    apt_dir="$deps/apt"
    log "fetching libhsakmt-dev of Debian $header_release from $mirror"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$mirror" "$header_release" >"$apt_dir/sources.list"
    local apt_opts=(
        -o "Dir::Etc::SourceList=$apt_dir/sources.list"
        -o "Dir::Etc::SourceParts=/dev/null"
        -o "Dir::State::Lists=$apt_dir/lists"
        -o "Dir::State::Status=/var/lib/dpkg/status"
        -o "Dir::Cache::Archives=$apt_dir/archives"
        -o "Dir::Cache::pkgcache="
        -o "Dir::Cache::srcpkgcache="
        -o "APT::Sandbox::User=root"
        -o "Debug::NoLocking=1"
    )
    apt-get -qq "${apt_opts[@]}" update
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    (cd "$work" && apt-get -qq "${apt_opts[@]}" download libhsakmt-dev)
    deb=$(ls "$work"/libhsakmt-dev_*.deb)
    dpkg-deb -x "$deb" "$work/root"
    [ -f "$work/root/usr/include/hsakmt/hsakmt.h" ] ||
        { echo "setup: $deb holds no usr/include/hsakmt/hsakmt.h" >&2; return 1; }
    rm -rf "$deps/include/hsakmt"
    mkdir -p "$deps/include"
    cp -r "$work/root/usr/include/hsakmt" "$deps/include/hsakmt"
    log "header unpacked to $deps/include/hsakmt ($(basename "$deb"))"
}

install_packages
have_recent_header || fetch_recent_header
