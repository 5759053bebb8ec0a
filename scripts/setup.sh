#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build and test kfdtopo. Idempotent; quick when done.
#
# Installs the build and test dependencies from the machine's own Debian release, then builds
# the libhsakmt that kfdtopo carries, pinned in scripts/hsakmt.pin: the thunk in the libhsakmt/
# folder of that rocr-runtime tarball, looked up in Debian testing, unstable and experimental and
# checked against the pinned SHA-256, header and library from that one source, into
# build/deps/hsakmt. The source indexes come through a private apt configuration under
# build/deps/apt that reuses the mirror of the machine's Debian sources (DEBIAN_MIRROR names
# another); the tarball is kept in build/deps/src. A build of the pin is kept whatever the network
# or the mirror does; a newer rocr-runtime in those suites is reported in one line (and kept in
# build/deps/newer for scripts/check.sh), never taken. Nothing system-wide changes for it, and
# the library never goes where the loader looks by default.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/build/deps"
apt_dir="$deps/apt"
source_suites=(testing unstable experimental)
source_package=rocr-runtime
pin_file="$repo/scripts/hsakmt.pin"
# libhsakmt-dev is the release's own, older library: the suite checks it is never loaded.
packages=(g++ cmake make dpkg-dev binutils file valgrind hyperfine python3 libhsakmt-dev
    nlohmann-json3-dev libgtest-dev clang clang-tidy libclang-rt-14-dev debootstrap lintian
    clustershell pdsh slurmctld slurmd munge slurm-client libdrm-dev libnuma-dev pkgconf zlib1g-dev libgraphviz-dev
    xz-utils)

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

# Runs apt-get or apt-cache ($1) with a private configuration under build/deps that reads only
# $apt_dir/sources.list.
private_apt() {
    local tool=$1
    shift
    "$tool" -qq \
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

# Reads the pin: pin_version, pin_tarball, pin_sha256.
read_pin() {
    local key value
    pin_version="" pin_tarball="" pin_sha256=""
    while IFS='=' read -r key value; do
        case $key in
            version) pin_version=$value ;;
            tarball) pin_tarball=$value ;;
            sha256) pin_sha256=$value ;;
        esac
    done <"$pin_file"
    [ -n "$pin_version" ] && [ -n "$pin_tarball" ] && [[ $pin_sha256 =~ ^[0-9a-f]{64}$ ]] ||
        fail "reading the pin $pin_file (version=, tarball=, sha256=)"
}

# Reads the source indexes of Debian testing, unstable and experimental from the mirror into
# $apt_dir; sets mirror. Fails (status 1) when the mirror or the network does.
read_indexes() {
    local suite
    mirror=${DEBIAN_MIRROR:-$(bash "$repo/scripts/debian-mirror.sh" 2>"$deps/apt.log")} || return 1
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    for suite in "${source_suites[@]}"; do
        printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
            "$mirror" "$suite"
    done >"$apt_dir/sources.list"
    private_apt apt-get update 2>"$deps/apt.log" >&2 && ! grep -q '^[WE]:' "$deps/apt.log"
}

# The upstream part of a Debian version: no epoch, no revision, no repack suffix.
upstream_version() {
    local version=${1#*:}
    version=${version%-*}
    printf '%s\n' "${version%%[+~]*}"
}

# Says in one line, and keeps in build/deps/newer, the newest rocr-runtime of the suites when it
# is newer than the pin.
report_newer() {
    local newest="" suites="" version suite upstream
    rm -f "$deps/newer"
    # madison's lines: PACKAGE | VERSION | MIRROR SUITE/main Sources
    while IFS='|' read -r _ version suite; do
        version=${version// /}
        suite=${suite% Sources}
        suite=${suite##* }
        suite=${suite%%/*}
        upstream=$(upstream_version "$version")
        dpkg --compare-versions "$upstream" gt "$pin_version" || continue
        if [ -z "$newest" ] || dpkg --compare-versions "$upstream" gt "$newest"; then
            newest=$upstream suites=$suite
        elif [ "$upstream" = "$newest" ] && [[ " $suites " != *" $suite "* ]]; then
            suites="$suites $suite"
        fi
    done < <(private_apt apt-cache madison "$source_package" 2>/dev/null | grep ' Sources$')
    [ -n "$newest" ] || return 0
    printf '%s\n' "Debian ${suites// /, } has $source_package $newest, newer than the pinned" \
        "$pin_version: not taken; to take it, change scripts/hsakmt.pin together with the goldens" \
        "and kfdsim" | paste -sd ' ' >"$deps/newer"
    log "$(cat "$deps/newer")"
}

# Downloads the pinned tarball from the suite that holds it into build/deps/src.
download_pinned() {
    local directory
    # showsrc's records, one per paragraph: a "Directory: PATH" line and checksum lines " HASH
    # SIZE NAME".
    directory=$(private_apt apt-cache showsrc "$source_package" 2>/dev/null | awk -v sum="$pin_sha256" \
        -v name="$pin_tarball" 'BEGIN { RS = ""; FS = "\n" }
        { dir = ""; found = 0
          for (i = 1; i <= NF; i++) {
              split($i, word, " ")
              if (word[1] == "Directory:") dir = word[2]
              if (word[1] == sum && word[3] == name) found = 1
          }
          if (found && dir != "") { print dir; exit } }')
    [ -n "$directory" ] ||
        fail_pin "it is in none of Debian $(printf '%s, ' "${source_suites[@]}" | sed 's/, $//') at $mirror"
    /usr/lib/apt/apt-helper -qq download-file "$mirror/$directory/$pin_tarball" \
        "$deps/src/$pin_tarball" "SHA256:$pin_sha256" 2>"$deps/apt.log" ||
        fail_pin "downloading it failed (log: $deps/apt.log)"
}

# Builds the pinned libhsakmt into build/deps/hsakmt unless it is built there already. Says in
# one line which version it has; fails in one line naming the step.
carried_library() {
    local out="$deps/hsakmt" source reached=yes
    read_pin
    source="$deps/src/$pin_tarball"
    mkdir -p "$deps/src"
    read_indexes || reached=no
    if [ "$reached" = yes ]; then
        report_newer
    else
        rm -f "$deps/newer"
        log "Debian's source indexes not reached (log: $deps/apt.log), so not looking for a newer $source_package"
    fi
    if [ -e "$out/lib/libhsakmt.so.1" ] &&
        [ "$(cat "$out/source" 2>/dev/null)" = "$pin_tarball SHA256:$pin_sha256" ]; then
        log "libhsakmt $pin_version ($pin_tarball, pinned) already built: $out"
        return
    fi
    if ! echo "$pin_sha256  $source" | sha256sum --check --quiet >/dev/null 2>&1; then
        rm -f "$source"
        [ "$reached" = yes ] || fail_pin "Debian's source indexes not reached (log: $deps/apt.log)"
        download_pinned
    fi
    bash "$repo/scripts/build-thunk.sh" "$source" "$out" || exit 1
    log "libhsakmt $pin_version built from $pin_tarball (pinned) into $out"
}

fail_pin() {
    fail "the pinned libhsakmt $pin_version ($pin_tarball, SHA-256 ${pin_sha256:0:12}..., scripts/hsakmt.pin), neither built nor at hand: $*; or name an installed libhsakmt 6.x with cmake -DHSAKMT_ROOT=DIR"
}

fail() {
    echo "setup: failed at $*" >&2
    exit 1
}

install_packages
carried_library
