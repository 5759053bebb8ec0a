#!/usr/bin/env bash
# Builds the Debian package inside a Debian 13 root (against the distribution's libhsakmt),
# installs it there with apt-get and runs the installed kfdtopo, which cannot open KFD in the
# root: it must fail with status 20 and say why. Prints one result line.
# Usage: package_test.sh <debian13 root> <source or build dir>   (as root)
set -euo pipefail
root=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
if [ -f "$src/CMakeCache.txt" ]; then
    src=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$src/CMakeCache.txt")
fi
work=/tmp/kfdtopo-package
log="$root$work.log"
fail() { echo "package: FAILED, $1 (log: $log)"; exit 1; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    DEBIAN_FRONTEND=noninteractive bash -c "$1" >>"$log" 2>&1; }

rm -rf "${root:?}$work" && mkdir -p "$root$work/src" && : >"$log"
tar -C "$src" --exclude=./build --exclude=./.git -cf - . | tar -C "$root$work/src" -xf -
in_root "apt-get install -y -q --no-install-recommends g++ cmake make dpkg-dev file \
    libhsakmt-dev nlohmann-json3-dev" || fail "build dependencies not installed"
in_root "cd $work && cmake -S src -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    && cmake --build build -j2 --target kfdtopo kfdtopo_export \
    && cd build && cpack -G DEB" || fail "package not built"
deb=$(cd "$root$work/build" && ls kfdtopo_*.deb)
in_root "apt-get remove -y -q kfdtopo; cd $work/build && apt-get install -y -q ./$deb" ||
    fail "$deb not installed"
depends=$(chroot "$root" dpkg-query -W -f='${Depends}' kfdtopo)

status=0
chroot "$root" /usr/bin/kfdtopo >"$root$work/out" 2>"$root$work/err" || status=$?
[ "$status" -eq 2 ] || fail "installed kfdtopo exited $status, not 2"
[ ! -s "$root$work/out" ] || fail "installed kfdtopo wrote to stdout"
[ "$(head -n 1 "$root$work/err")" = "HSAKMT Error 20: Could not open KFD" ] ||
    fail "first stderr line: $(head -n 1 "$root$work/err")"
[ "$(wc -l <"$root$work/err")" -eq 3 ] || fail "no advice after the failure: $(cat "$root$work/err")"
echo "package: $deb (Depends: $depends) built and installed in Debian 13; kfdtopo exits 2 with" \
    "\"$(sed -n 2p "$root$work/err")\""
