#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build and test kfdtopo. Idempotent; quick when done.
#
# Installs the build dependencies from the machine's own Debian release. Unless the system
# has a shared libhsakmt whose own header has the recent node fields (Debian 13 and newer),
# builds libhsakmt 6.2.4 from the source package of Debian 13 into build/deps/hsakmt
# (lib/libhsakmt.so.1 and include/hsakmt): the source comes through a private apt
# configuration under build/deps/apt that reuses the mirror of the machine's Debian
# sources. Nothing system-wide changes for it.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/build/deps"
apt_dir="$deps/apt"
source_release=trixie
source_package=roct-thunk-interface
library_version=6.2.4
packages=(g++ cmake make dpkg-dev binutils valgrind hyperfine python3 libhsakmt-dev nlohmann-json3-dev
    libgtest-dev clang libclang-rt-14-dev debootstrap
    libdrm-dev libnuma-dev libudev-dev pkgconf zlib1g-dev)

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

# True when the system has a shared libhsakmt whose own header has the recent node fields,
# found in the same installation the way cmake/Hsakmt.cmake looks for it.
have_recent_library() {
    local prefix dir
    for prefix in /opt/rocm /usr /usr/local; do
        [ -f "$prefix/include/hsakmt/hsakmttypes.h" ] &&
            grep -q 'KFDGpuID' "$prefix/include/hsakmt/hsakmttypes.h" || continue
        for dir in "$prefix/lib/$(gcc -print-multiarch 2>/dev/null)" "$prefix/lib64" "$prefix/lib"; do
            if [ -e "$dir/libhsakmt.so.1" ]; then
                log "recent libhsakmt: $dir/libhsakmt.so.1 with its header $prefix/include/hsakmt"
                return 0
            fi
        done
    done
    return 1
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

# Builds libhsakmt from the upstream tarball of Debian 13's source package (checked against
# the SHA-256 of the source index) into build/deps/hsakmt: lib/libhsakmt.so.1 and
# include/hsakmt, header and library from one source. Only the library target is built.
build_library() {
    local out="$deps/hsakmt" stamp mirror line uri name sum work
    stamp="$out/source"
    if [ -e "$out/lib/libhsakmt.so.1" ] && [ -f "$out/include/hsakmt/hsakmt.h" ] &&
        grep -q "^${source_package}_${library_version}+" "$stamp" 2>/dev/null; then
        log "libhsakmt $library_version built from source: $out ($(cut -d' ' -f1 "$stamp"))"
        return
    fi
    mirror=$(bash "$repo/scripts/debian-mirror.sh")
    log "fetching the source of libhsakmt $library_version ($source_package, Debian $source_release) from $mirror"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$mirror" "$source_release" >"$apt_dir/sources.list"
    private_apt update
    # A line of --print-uris: 'URI' NAME SIZE SHA256:HASH
    line=$(private_apt source --print-uris "$source_package" 2>/dev/null |
        grep -F "_${library_version}+" | grep -F '.orig.tar.' || true)
    [ -n "$line" ] || {
        echo "setup: Debian $source_release lists no $source_package $library_version orig tarball" >&2
        return 1
    }
    read -r uri name _ sum <<<"$line"
    uri=${uri//\'/}
    case $sum in SHA256:*) ;; *)
        echo "setup: the source index lists no SHA-256 for $name" >&2
        return 1
        ;;
    esac
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    /usr/lib/apt/apt-helper -qq download-file "$uri" "$work/$name" "$sum" 2>/dev/null
    echo "${sum#SHA256:}  $work/$name" | sha256sum --check --quiet
    mkdir -p "$work/src"
    tar -xf "$work/$name" -C "$work/src" --strip-components=1 --exclude='*/tests'
    cmake -S "$work/src" -B "$work/build" -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release \
        >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; return 1; }
    cmake --build "$work/build" --target hsakmt -j2 >"$work/build.log" 2>&1 ||
        { cat "$work/build.log" >&2; return 1; }
    rm -rf "$out"
    mkdir -p "$out/lib" "$out/include"
    cp -P "$work/build"/libhsakmt.so* "$out/lib/"
    cp -r "$work/src/include/hsakmt" "$out/include/hsakmt"
    echo "$name $sum" >"$stamp"
    log "libhsakmt $library_version built from $name into $out"
}

install_packages
have_recent_library || build_library
