#!/usr/bin/env bash
# Installs into a temporary prefix. The libhsakmt that the build carries (if not "none") must
# be installed as lib/libhsakmt.so.1 and be the one the installed kfdtopo loads. Then kfdsim
# takes its place and the installed kfdtopo, run without LD_LIBRARY_PATH, must serve it.
# Usage: install_test.sh <build dir> <kfdsim library> <expected default report> <library>
set -euo pipefail
build=$1 sim=$2 expected=$3 library=$4
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/kfdtopo" || { echo "bin/kfdtopo not installed"; exit 1; }
test -s "$prefix/share/man/man1/kfdtopo.1" || { echo "man page not installed"; exit 1; }
for doc in share/man/man1/kfdtopo-export.1 share/doc/kfdtopo/fixtures.md; do
    test -s "$prefix/$doc" || { echo "$doc not installed"; exit 1; }
done
if [ "$library" != none ]; then
    cmp "$prefix/lib/libhsakmt.so.1" "$library"
    env -u LD_LIBRARY_PATH ldd "$prefix/bin/kfdtopo" |
        grep -F "libhsakmt.so.1 => $prefix/bin/../lib/libhsakmt.so.1"
fi
mkdir -p "$prefix/lib"
cp "$sim" "$prefix/lib/libhsakmt.so.1"

env -u LD_LIBRARY_PATH -u KFDSIM_TOPOLOGY "$prefix/bin/kfdtopo" >"$prefix/out"
cmp "$prefix/out" "$expected"
echo "installed kfdtopo found kfdsim through \$ORIGIN/../lib"
