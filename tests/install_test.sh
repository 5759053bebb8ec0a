#!/usr/bin/env bash
# Installs into a temporary prefix. The libhsakmt that the build carries (if not "none") must
# be installed as lib/kfdtopo/hsakmt/libhsakmt.so.1 and be the one the installed kfdtopo loads.
# kfdsim goes to lib/kfdtopo/kfdsim, out of the loader's way, and the installed
# kfdtopo-replay, run from another folder without LD_LIBRARY_PATH, must replay a fixture, a
# captured tree and a tarball of it through it (kfdtopo-graph's matrix too, and its SVG through
# the installed module when the build has one), and refuse a missing topology in one line.
# Usage: install_test.sh <build dir> <tests/data> <library>
set -euo pipefail
build=$1 data=$(cd "$2" && pwd) library=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() {
    echo "$1"
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
for program in kfdtopo kfdtopo-export kfdtopo-replay kfdtopo-graph kfdtopo-diff; do
    test -x "$prefix/bin/$program" || fail "bin/$program not installed"
    gzip -t "$prefix/share/man/man1/$program.1.gz" || fail "man page of $program not installed"
done
test -s "$prefix/share/doc/kfdtopo/fixtures.md" || fail "fixtures.md not installed"
if [ "$library" != none ]; then
    cmp "$prefix/lib/kfdtopo/hsakmt/libhsakmt.so.1" "$library"
    env -u LD_LIBRARY_PATH ldd "$prefix/bin/kfdtopo" |
        grep -F "libhsakmt.so.1 => $prefix/bin/../lib/kfdtopo/hsakmt/libhsakmt.so.1"
fi
sim=$prefix/lib/kfdtopo/kfdsim
test -f "$sim/libhsakmt.so.1" || fail "kfdsim not installed in lib/kfdtopo/kfdsim"
[ "$(ls "$sim" | tr '\n' ' ')" = "kfdsim-check libhsakmt.so.1 " ] ||
    fail "lib/kfdtopo/kfdsim holds other than kfdsim and its checker: $(ls "$sim")"
! cmp -s "$sim/libhsakmt.so.1" "$prefix/lib/kfdtopo/hsakmt/libhsakmt.so.1" ||
    fail "kfdsim installed in the carried library's place"

# Relative topologies from another folder, and the script called through a link.
mkdir -p "$prefix/elsewhere/data" "$prefix/links"
cp "$data/report/2cpu-1gpu-banks-links.json" "$prefix/elsewhere/data/"
cp -r "$data/captures/vega10-mi25" "$prefix/elsewhere/data/"
ln -s "$prefix/bin/kfdtopo-replay" "$prefix/links/kfdtopo-replay"
cd "$prefix/elsewhere"
replay() { env -u LD_LIBRARY_PATH -u KFDSIM_TOPOLOGY PATH=/usr/bin:/bin "$@"; }
replay "$prefix/bin/kfdtopo-replay" data/2cpu-1gpu-banks-links.json >"$prefix/out"
cmp "$prefix/out" "$data/report/2cpu-1gpu-banks-links.out" || fail "the fixture's replay differs"
replay "$prefix/links/kfdtopo-replay" data/vega10-mi25 >"$prefix/out"
cmp "$prefix/out" "$data/captures/vega10-mi25.out" || fail "the captured tree's replay differs"
replay "$prefix/bin/kfdtopo-replay" data/vega10-mi25 kfdtopo-export export.json
replay "$prefix/bin/kfdtopo-replay" export.json >"$prefix/out"
cmp "$prefix/out" "$data/captures/vega10-mi25.out" || fail "the export's replay differs"
replay "$prefix/bin/kfdtopo-replay" data/vega10-mi25 kfdtopo-graph >"$prefix/out"
cmp "$prefix/out" "$data/graph/vega10-mi25.matrix" || fail "kfdtopo-graph's replay differs"
replay "$prefix/bin/kfdtopo-replay" data/vega10-mi25 kfdtopo-diff export.json >"$prefix/out"
[ "$(cat "$prefix/out")" = "0 differences" ] || fail "kfdtopo-diff's replay differs: $(cat "$prefix/out")"
test -x "$prefix/lib/kfdtopo/kfdtopo-healthcheck" || fail "lib/kfdtopo/kfdtopo-healthcheck not installed"
if [ -f "$prefix/lib/kfdtopo/svg/kfdtopo-svg.so" ]; then
    replay "$prefix/bin/kfdtopo-replay" data/vega10-mi25 kfdtopo-graph --svg machine.svg
    [ "$(head -c 5 machine.svg)" = "<?xml" ] || fail "the installed kfdtopo-graph drew no SVG"
fi
tar czf capture.tar.gz -C data vega10-mi25
replay "$prefix/bin/kfdtopo-replay" capture.tar.gz >"$prefix/out"
cmp "$prefix/out" "$data/captures/vega10-mi25.out" || fail "the tarball's replay differs"

status=0
replay "$prefix/bin/kfdtopo-replay" data/missing.json >"$prefix/out" 2>"$prefix/err" || status=$?
[ "$status" -eq 125 ] || fail "a missing topology exits $status, not 125"
[ ! -s "$prefix/out" ] || fail "a missing topology writes to stdout"
[ "$(cat "$prefix/err")" = "kfdtopo-replay: data/missing.json: no such file or directory" ] ||
    fail "a missing topology says: $(cat "$prefix/err")"
echo "installed kfdtopo-replay found kfdsim in lib/kfdtopo/kfdsim"
