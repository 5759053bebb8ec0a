#!/usr/bin/env bash
# The libhsakmt.so.1 that each executable resolves at run time, without LD_LIBRARY_PATH, is byte
# for byte the configured library. Then a copy of that installation (library and header) in a
# temporary directory is named by HSAKMT_ROOT: the kfdtopo built against it must load the copy,
# while the system has a libhsakmt of its own where the loader looks by default. With a field
# added to the copy's node record, configure must call its header newer and untested.
# Usage: runtime_library_test.sh <source dir> <library> <include dir> <executable>...
set -euo pipefail
src=$1 library=$2 include=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

resolved() {
    env -u LD_LIBRARY_PATH ldd "$1" | awk '$1 == "libhsakmt.so.1" { print $3 }'
}

expect_loads() {
    local executable=$1 wanted=$2 found
    found=$(resolved "$executable")
    [ -n "$found" ] && cmp -s "$found" "$wanted" || {
        echo "FAILED: $executable loads '${found:-nothing}', not $wanted"
        exit 1
    }
    echo "$executable loads $found, the same bytes as $wanted"
}

system=$(ldconfig -p | awk '$1 == "libhsakmt.so.1" && !n++ { print $NF }')
[ -n "$system" ] || { echo "FAILED: the system has no libhsakmt.so.1 of its own to be wary of"; exit 1; }
echo "the system's own: $system"

for executable in "$@"; do
    expect_loads "$executable" "$library"
done

mkdir -p "$work/root/lib" "$work/root/include"
cp "$library" "$work/root/lib/libhsakmt.so.1"
cp -r "$include/hsakmt" "$work/root/include/hsakmt"
cmake -S "$src" -B "$work/build" -DHSAKMT_ROOT="$work/root" -DBUILD_TESTING=OFF \
    -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
grep -F "libhsakmt: $work/root/lib/libhsakmt.so.1" "$work/configure.log"
cmake --build "$work/build" --target kfdtopo -j2 >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }
expect_loads "$work/build/bin/kfdtopo" "$work/root/lib/libhsakmt.so.1"
[ "$(resolved "$work/build/bin/kfdtopo")" = "$work/root/lib/libhsakmt.so.1" ] ||
    { echo "FAILED: the HSAKMT_ROOT build loads a library outside $work/root"; exit 1; }

# A header with a field newer than the carried library's is named newer and untested.
sed -i 's/^\( *HSA_CAPABILITY *Capability;.*\)$/\1\n    HSA_CAPABILITY Capability2;/' \
    "$work/root/include/hsakmt/hsakmttypes.h"
cmake "$work/build" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
grep -E "^-- libhsakmt: .*\(newer than the carried [0-9.]+, its node record has Capability2: untested" \
    "$work/configure.log" || { echo "FAILED: a header with Capability2 is not named newer"; exit 1; }
