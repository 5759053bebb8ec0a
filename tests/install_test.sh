#!/usr/bin/env bash
# Installs into a temporary prefix, puts kfdsim there as lib/libhsakmt.so.1 and runs the
# installed kfdtopo without LD_LIBRARY_PATH: it must find the library through its run path.
# Usage: install_test.sh <build dir> <kfdsim library> <expected default report>
set -euo pipefail
build=$1 sim=$2 expected=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/kfdtopo" || { echo "bin/kfdtopo not installed"; exit 1; }
test -s "$prefix/share/man/man1/kfdtopo.1" || { echo "man page not installed"; exit 1; }
for doc in share/man/man1/kfdtopo-export.1 share/doc/kfdtopo/fixtures.md; do
    test -s "$prefix/$doc" || { echo "$doc not installed"; exit 1; }
done
mkdir -p "$prefix/lib"
cp "$sim" "$prefix/lib/libhsakmt.so.1"

env -u LD_LIBRARY_PATH -u KFDSIM_TOPOLOGY "$prefix/bin/kfdtopo" >"$prefix/out"
cmp "$prefix/out" "$expected"
echo "installed kfdtopo found kfdsim through \$ORIGIN/../lib"
