#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build and test kfdtopo. Idempotent; quick when done.
#
# Installs the build and test dependencies from the machine's own Debian release, then builds
# the libhsakmt that kfdtopo carries: the thunk in the libhsakmt/ folder of the newest
# rocr-runtime source package of Debian testing (checked against the SHA-256 of its source
# index), header and library from that one source, into build/deps/hsakmt. The source comes
# through a private apt configuration under build/deps/apt that reuses the mirror of the
# machine's Debian sources; its tarball is kept in build/deps/src. Nothing system-wide changes
# for it, and the library never goes where the loader looks by default.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/build/deps"
apt_dir="$deps/apt"
source_release=testing
source_package=rocr-runtime
# libhsakmt-dev is the release's own, older library: the suite checks it is never loaded.
packages=(g++ cmake make dpkg-dev binutils file valgrind hyperfine python3 libhsakmt-dev
    nlohmann-json3-dev libgtest-dev clang clang-tidy libclang-rt-14-dev debootstrap lintian
    clustershell pdsh libdrm-dev libnuma-dev pkgconf zlib1g-dev libgraphviz-dev xz-utils)

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

# Apt options of a private configuration under build/deps that reads only $apt_dir/sources.list.
private_apt() {
    apt-get -qq \
        -o "Dir::Etc::SourceList=$apt_dir/sources.list" \
        -o "Dir::Etc::SourceParts=/dev/null" \
        -o "Dir::State::Lists=$apt_dir/lists" \
        -o "Dir::State::Status=/var/lib/dpkg/status" \
        -o "Dir::Cache::Archives=$apt_dir/archives" \
        -o "Dir::Cache::pkgcache=" \
        -o "Dir::Cache::srcpkgcache=" \
        -o "APT::Sandbox::User=root" \
        -o "Debug::NoLocking=1" \
        "$@"
}

# Builds the carried libhsakmt from the newest rocr-runtime source of Debian testing into
# build/deps/hsakmt, unless that very tarball was built there already. Says in one line which
# version it took; fails in one line naming the step.
carried_library() {
    local out="$deps/hsakmt" stamp="$deps/hsakmt/source" mirror line uri name sum version
    mirror=$(bash "$repo/scripts/debian-mirror.sh")
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$deps/src"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$mirror" "$source_release" >"$apt_dir/sources.list"
    if ! private_apt update 2>"$deps/apt.log"; then
        if [ -f "$stamp" ] && [ -e "$out/lib/libhsakmt.so.1" ]; then
            log "Debian $source_release's source index not reached; keeping $(cut -d' ' -f1 "$stamp")"
            return
        fi
        fail "reading Debian $source_release's source index from $mirror (log: $deps/apt.log)"
    fi
    # A line of --print-uris: 'URI' NAME SIZE SHA256:HASH
    line=$(private_apt source --print-uris "$source_package" 2>/dev/null | grep -F '.orig.tar.' || true)
    [ -n "$line" ] || fail "finding $source_package in Debian $source_release's source index"
    read -r uri name _ sum <<<"$line"
    uri=${uri//\'/}
    version=${name#"${source_package}_"}
    version=${version%%[+~-]*}
    version=${version%.orig.tar.*}
    case $sum in SHA256:*) ;; *) fail "finding a SHA-256 for $name in the source index" ;; esac
    if [ -e "$out/lib/libhsakmt.so.1" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$name $sum" ]; then
        log "libhsakmt $version ($name) already built: $out"
        return
    fi
    if ! [ -f "$deps/src/$name" ] ||
        ! echo "${sum#SHA256:}  $deps/src/$name" | sha256sum --check --quiet >/dev/null 2>&1; then
        rm -f "$deps/src/$name"
        /usr/lib/apt/apt-helper -qq download-file "$uri" "$deps/src/$name" "$sum" 2>"$deps/apt.log" ||
            fail "downloading $name (log: $deps/apt.log)"
        echo "${sum#SHA256:}  $deps/src/$name" | sha256sum --check --quiet ||
            fail "checking $name against the SHA-256 of the source index"
    fi
    bash "$repo/scripts/build-thunk.sh" "$deps/src/$name" "$out" || exit 1
    log "libhsakmt $version built from $name (Debian $source_release) into $out"
}

fail() {
    echo "setup: failed at $*" >&2
    exit 1
}

install_packages
carried_library
