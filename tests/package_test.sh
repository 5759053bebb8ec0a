#!/usr/bin/env bash
# Builds the Debian packages (kfdtopo, and kfdtopo-svg where Graphviz's development files are)
# and the relocatable archive with the libhsakmt the project carries, checks each package with
# lintian (which must report nothing), and runs what they install: kfdtopo must load the
# package's own libhsakmt from /usr/lib/kfdtopo/hsakmt, not the system's, and fail to open KFD
# here with status 2; kfdtopo-replay must replay a bundled capture; kfdtopo-graph --svg must say
# in one line what to install without kfdtopo-svg and draw with it. The archive, unpacked into a
# folder of its own, must run the same from another folder.
# Without a root, on this machine: built in build/package, run from the unpacked packages.
# With the root of another Debian release (as root): the carried libhsakmt is built there from
# the pinned tarball of build/deps/src, the packages built there and installed with apt, beside
# that release's own libhsakmt1, after counting what each pulls into a minimal root (the root's
# /var/lib/dpkg/status.minbase, which tests/debian13.sh keeps); the main package must pull
# nothing graphical. The archive run there is the one built here (run without a root first).
# The root is left without Graphviz and without the packages. Prints one result line.
# Usage: package_test.sh <source dir> [<root>]
set -euo pipefail
src=$(cd "$1" && pwd)
root=${2:+$(cd "$2" && pwd)}
work=/tmp/kfdtopo-package
log=/dev/null
fail() { echo "package: FAILED, $1 (log: $log)"; exit 1; }
trap 'fail "line $LINENO of $0 exited $?"' ERR
tarball=$(sed -n 's/^tarball=//p' "$src/scripts/hsakmt.pin")
archive_name=kfdtopo-$(sed -n 's/^project(kfdtopo VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")-$(uname -m)
host_archive=$src/build/package/build/$archive_name.tar.gz
# What a compute node must not get: the desktop stack that Graphviz's libraries bring.
graphical='^(libx11|libxcb|libxext|libxrender|libxpm|libxaw|libxmu|libxt|libice|libsm|libcairo|libpango|libfontconfig|fontconfig|libfreetype|libgd|libpng|libjpeg|libtiff|libwebp|libavif|libheif|libgdk|libgtk|librsvg|libgvc|libcgraph|graphviz)'

if [ -n "$root" ]; then
    log="$root$work.log"
    run() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive bash -c "$1" >>"$log" 2>&1; }
    [ -f "$host_archive" ] || fail "no $host_archive: run bash tests/package_test.sh . first"
    [ -f "$root/var/lib/dpkg/status.minbase" ] ||
        fail "the root has no /var/lib/dpkg/status.minbase: make it anew with tests/debian13.sh"
    rm -rf "${root:?}$work" && mkdir -p "$root$work/src/build/deps/src" && : >"$log"
    # The loader expands $ORIGIN through /proc/self/exe.
    if ! mountpoint -q "$root/proc"; then
        mount -t proc proc "$root/proc"
        trap 'umount "$root/proc"' EXIT
    fi
    tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$root$work/src" -xf -
    cp "$src/build/deps/src/$tarball" "$root$work/src/build/deps/src/"
    run "apt-get remove -y -q kfdtopo-svg kfdtopo; apt-get install -y -q --no-install-recommends \
        g++ gcc cmake make dpkg-dev file xz-utils python3 pkgconf libdrm-dev libnuma-dev \
        zlib1g-dev libgraphviz-dev nlohmann-json3-dev libhsakmt1 lintian" ||
        fail "build dependencies not installed"
    run "cd $work/src && bash scripts/build-thunk.sh build/deps/src/$tarball build/deps/hsakmt" ||
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
    && cmake --build build -j2 && cd build && cpack" || fail "packages not built"
deb=$(cd "${root}$work/build" && ls kfdtopo_*.deb)
svg_deb=$(cd "${root}$work/build" && ls kfdtopo-svg_*.deb)
for package in "$deb" "$svg_deb"; do
    run "lintian --fail-on error,warning $work/build/$package" || fail "lintian: $(tail -n 5 "$log")"
done
depends=$(dpkg-deb -f "${root}$work/build/$deb" Depends)
! grep -q -E "(^|, )${graphical#^}" <<<"$depends" || fail "$deb depends on Graphviz: $depends"

# Packages that the .deb files pull into a minimal root of the release, by apt's simulation.
pulled() {
    chroot "$root" apt-get -s -o Dir::State::status=/var/lib/dpkg/status.minbase install "$@" |
        awk '$1 == "Inst" && $2 !~ /^kfdtopo/ { print $2 }'
}
if [ -n "$root" ]; then
    pulled_main=$(pulled "$work/build/$deb")
    pulled_all=$(pulled "$work/build/$deb" "$work/build/$svg_deb")
    [ -n "$pulled_all" ] || fail "apt's simulation pulled nothing"
    ! grep -E "$graphical" <<<"$pulled_main" >>"$log" ||
        fail "$deb pulls graphical packages: $(grep -E "$graphical" <<<"$pulled_main" | xargs)"
    count_main=$(grep -c . <<<"$pulled_main" || true)
    count_svg=$(($(grep -c . <<<"$pulled_all") - count_main))
    # The root stays without Graphviz, as the suite there builds: kfdtopo-svg brings it back.
    run "apt-get purge -y -q --autoremove libgraphviz-dev" || fail "libgraphviz-dev not removed"
fi

# What the packages install, and where it runs from.
if [ -n "$root" ]; then
    run "cd $work/build && apt-get install -y -q ./$deb" || fail "$deb not installed"
    usr=/usr
    in_place() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
    install_svg() { run "cd $work/build && apt-get install -y -q ./$svg_deb"; }
else
    run "dpkg-deb -x $work/build/$deb $work/unpacked" || fail "$deb not unpacked"
    usr=$work/unpacked/usr
    in_place() { env -u LD_LIBRARY_PATH -u KFDSIM_TOPOLOGY "$@"; }
    install_svg() { run "dpkg-deb -x $work/build/$svg_deb $work/unpacked"; }
fi
private=$usr/lib/kfdtopo/hsakmt/libhsakmt.so.1
loaded=$(in_place ldd "$usr/bin/kfdtopo" | awk '$1 == "libhsakmt.so.1" { print $3 }')
[ "$(in_place readlink -f "$loaded")" = "$private" ] ||
    fail "installed kfdtopo loads '$loaded', not $private"
system=$(in_place ldconfig -p | awk '$1 == "libhsakmt.so.1" && !n++ { print $NF }')
[ -n "$system" ] || fail "no system libhsakmt.so.1 beside the package's to be wary of"
! in_place ldconfig -p | grep -q -F "$private" || fail "$private is on the loader's default path"

# kfdtopo in the folder <bin>: no KFD here, status 2 and advice; kfdtopo-replay of a capture.
capture=captures/vega10-mi25
cp -r "$src/tests/data/$capture" "$root$work/capture"
check_programs() {
    local bin=$1 status=0
    in_place "$bin/kfdtopo" >"$root$work/out" 2>"$root$work/err" || status=$?
    [ "$status" -eq 2 ] || fail "$bin/kfdtopo exited $status, not 2"
    [ ! -s "$root$work/out" ] || fail "$bin/kfdtopo wrote to stdout"
    [ "$(head -n 1 "$root$work/err")" = "HSAKMT Error 20: Could not open KFD" ] ||
        fail "first stderr line of $bin/kfdtopo: $(head -n 1 "$root$work/err")"
    [ "$(wc -l <"$root$work/err")" -ge 2 ] || fail "no advice after the failure: $(cat "$root$work/err")"
    in_place "$bin/kfdtopo-replay" "$work/capture" >"$root$work/replay" ||
        fail "$bin/kfdtopo-replay failed on $capture"
    cmp -s "$root$work/replay" "$src/tests/data/$capture.out" ||
        fail "$bin/kfdtopo-replay's report of $capture differs from its golden"
}
check_programs "$usr/bin"

# --svg without kfdtopo-svg: one line, status 3; with it, an SVG.
status=0
in_place "$usr/bin/kfdtopo-replay" "$work/capture" kfdtopo-graph --svg "$work/machine.svg" \
    2>"$root$work/err" || status=$?
[ "$status" -eq 3 ] && cmp -s "$root$work/err" "$src/tests/data/graph/svg-unavailable.err" ||
    fail "kfdtopo-graph --svg without kfdtopo-svg exited $status: $(cat "$root$work/err")"
install_svg || fail "$svg_deb not installed"
in_place "$usr/bin/kfdtopo-replay" "$work/capture" kfdtopo-graph --svg "$work/machine.svg" \
    >>"$log" 2>&1 || fail "kfdtopo-graph --svg failed with $svg_deb"
[ "$(head -c 5 "$root$work/machine.svg")" = "<?xml" ] || fail "kfdtopo-graph --svg drew no SVG"

# The archive built on this machine's release, unpacked anywhere; its programs find their
# libraries through their run path, kfdtopo-replay finds kfdsim beside itself.
archive=$host_archive
[ -n "$root" ] || archive=$work/build/$archive_name.tar.gz
mkdir -p "$root$work/any folder"
tar -xzf "$archive" -C "$root$work/any folder"
unpacked="$work/any folder/$archive_name"
for program in kfdtopo kfdtopo-export kfdtopo-graph; do
    ! in_place ldd "$unpacked/bin/$program" | grep -F "not found" >>"$log" ||
        fail "the archive's $program lacks a library here"
done
check_programs "$unpacked/bin"
if [ -n "$root" ]; then
    run "apt-get purge -y -q --autoremove kfdtopo-svg kfdtopo" || fail "packages not removed"
    pulls="; installed alone in a minimal root, $deb pulls $count_main packages ($(xargs <<<"$pulled_main")), $svg_deb $count_svg more"
fi

echo "package: $deb and $svg_deb built on $release with the carried libhsakmt, lintian silent;" \
    "kfdtopo loads $private (the system's is $system), exits 2 with" \
    "\"$(sed -n 2p "$root$work/err")\"; kfdtopo-replay reports $capture; --svg draws only" \
    "with $svg_deb; $(basename "$archive") runs from any folder${pulls:-}"
