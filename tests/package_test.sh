#!/usr/bin/env bash
# Builds the Debian package with the libhsakmt the project carries, checks it with lintian
# (which must report nothing), and runs what it installs: kfdtopo must load the package's own
# libhsakmt from /usr/lib/kfdtopo/hsakmt, not the system's, and fail to open KFD here with
# status 2; kfdtopo-replay must replay a bundled capture.
# Without a root, on this machine: built in build/package, run from the unpacked package.
# With the root of another Debian release (as root): the carried libhsakmt is built there from
# the tarball of build/deps/src, the package built and installed there with apt, beside that
# release's own libhsakmt1. Prints one result line.
# Usage: package_test.sh <source dir> [<root>]
set -euo pipefail
src=$(cd "$1" && pwd)
root=${2:+$(cd "$2" && pwd)}
work=/tmp/kfdtopo-package
log=/dev/null
fail() { echo "package: FAILED, $1 (log: $log)"; exit 1; }
trap 'fail "line $LINENO of $0 exited $?"' ERR

if [ -n "$root" ]; then
    log="$root$work.log"
    run() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive bash -c "$1" >>"$log" 2>&1; }
    rm -rf "${root:?}$work" && mkdir -p "$root$work/src/build/deps/src" && : >"$log"
    # The loader expands $ORIGIN through /proc/self/exe.
    if ! mountpoint -q "$root/proc"; then
        mount -t proc proc "$root/proc"
        trap 'umount "$root/proc"' EXIT
    fi
    tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$root$work/src" -xf -
    cp "$src"/build/deps/src/*.orig.tar.* "$root$work/src/build/deps/src/"
    run "apt-get install -y -q --no-install-recommends g++ gcc cmake make dpkg-dev file xz-utils \
        python3 pkgconf libdrm-dev libnuma-dev zlib1g-dev libgraphviz-dev nlohmann-json3-dev libhsakmt1 \
        lintian" ||
        fail "build dependencies not installed"
    run "cd $work/src && bash scripts/build-thunk.sh build/deps/src/*.orig.tar.* build/deps/hsakmt" ||
        fail "the carried libhsakmt not built"
    release=$(. "$root/etc/os-release" && echo "Debian $VERSION_ID")
else
    log="$src/build/package.log"
    work="$src/build/package"
    run() { bash -c "$1" >>"$log" 2>&1; }
    : >"$log"
    rm -rf "$work" && mkdir -p "$work"
    release=$(. /etc/os-release && echo "Debian $VERSION_ID")
fi

source_dir=$work/src
[ -n "$root" ] || source_dir=$src
run "cd $work && cmake -S $source_dir -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    && cmake --build build -j2 && cd build && cpack -G DEB" || fail "package not built"
deb=$(cd "${root}$work/build" && ls kfdtopo_*.deb)
run "lintian --fail-on error,warning $work/build/$deb" || fail "lintian: $(tail -n 5 "$log")"

# What the package installs, and where it runs from.
if [ -n "$root" ]; then
    run "apt-get remove -y -q kfdtopo; cd $work/build && apt-get install -y -q ./$deb" ||
        fail "$deb not installed"
    usr=/usr
    in_place() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
else
    run "dpkg-deb -x $work/build/$deb $work/unpacked" || fail "$deb not unpacked"
    usr=$work/unpacked/usr
    in_place() { env -u LD_LIBRARY_PATH -u KFDSIM_TOPOLOGY "$@"; }
fi
private=$usr/lib/kfdtopo/hsakmt/libhsakmt.so.1
loaded=$(in_place ldd "$usr/bin/kfdtopo" | awk '$1 == "libhsakmt.so.1" { print $3 }')
[ "$(in_place readlink -f "$loaded")" = "$private" ] ||
    fail "installed kfdtopo loads '$loaded', not $private"
system=$(in_place ldconfig -p | awk '$1 == "libhsakmt.so.1" && !n++ { print $NF }')
[ -n "$system" ] || fail "no system libhsakmt.so.1 beside the package's to be wary of"
! in_place ldconfig -p | grep -q -F "$private" || fail "$private is on the loader's default path"

status=0
in_place "$usr/bin/kfdtopo" >"$root$work/out" 2>"$root$work/err" || status=$?
[ "$status" -eq 2 ] || fail "installed kfdtopo exited $status, not 2"
[ ! -s "$root$work/out" ] || fail "installed kfdtopo wrote to stdout"
[ "$(head -n 1 "$root$work/err")" = "HSAKMT Error 20: Could not open KFD" ] ||
    fail "first stderr line: $(head -n 1 "$root$work/err")"
[ "$(wc -l <"$root$work/err")" -ge 2 ] || fail "no advice after the failure: $(cat "$root$work/err")"

capture=captures/vega10-mi25
cp -r "$src/tests/data/$capture" "$root$work/capture"
in_place "$usr/bin/kfdtopo-replay" "$work/capture" >"$root$work/replay" ||
    fail "installed kfdtopo-replay failed on $capture"
cmp -s "$root$work/replay" "$src/tests/data/$capture.out" ||
    fail "installed kfdtopo-replay's report of $capture differs from its golden"

echo "package: $deb built on $release with the carried libhsakmt, lintian silent; kfdtopo" \
    "loads $private (the system's is $system), exits 2 with" \
    "\"$(sed -n 2p "$root$work/err")\"; kfdtopo-replay reports $capture"
