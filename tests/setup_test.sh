#!/usr/bin/env bash
# scripts/setup.sh keeps the carried libhsakmt when the mirror cannot be reached: a copy of the
# scripts, pointed by DEBIAN_MIRROR at a port where nothing listens, must keep a build of the pin
# and exit 0, and must fail in one line, naming the pin and -DHSAKMT_ROOT, when the build there
# is of another tarball and the pinned tarball is not at hand. Needs setup's packages installed.
# Usage: setup_test.sh <source dir>
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "setup_test: FAILED, $1"; exit 1; }

mkdir -p "$work/build/deps/hsakmt/lib"
cp -r "$src/scripts" "$work/"
tarball=$(sed -n 's/^tarball=//p' "$src/scripts/hsakmt.pin")
sha256=$(sed -n 's/^sha256=//p' "$src/scripts/hsakmt.pin")
: >"$work/build/deps/hsakmt/lib/libhsakmt.so.1"
unreachable() { DEBIAN_MIRROR=http://127.0.0.1:9/debian bash "$work/scripts/setup.sh" >"$work/out" 2>"$work/err"; }

echo "$tarball SHA256:$sha256" >"$work/build/deps/hsakmt/source"
unreachable || fail "setup without a mirror exited $? with a build of the pin: $(cat "$work/err")"
grep -q -F "already built" "$work/out" || fail "setup did not keep the build: $(cat "$work/out")"

echo "rocr-runtime_6.2.4.orig.tar.xz SHA256:$sha256" >"$work/build/deps/hsakmt/source"
status=0
unreachable || status=$?
[ "$status" -eq 1 ] || fail "setup without a mirror, a build or a source exited $status"
[ "$(wc -l <"$work/err")" -eq 1 ] && grep -F "$tarball" "$work/err" | grep -q -F -- "-DHSAKMT_ROOT" ||
    fail "setup's failure is not one line naming the pin and -DHSAKMT_ROOT: $(cat "$work/err")"
echo "setup_test: without a mirror, setup keeps the pinned build and fails in one line without one"
