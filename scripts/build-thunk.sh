#!/usr/bin/env bash
# Builds libhsakmt.so.1 from the libhsakmt/ folder of a rocr-runtime source tarball into OUT:
# lib/libhsakmt.so.1, include/hsakmt (the header of the same source), LICENSE.md, and the
# tarball's name and SHA-256 in source.
# Only the library target is built. The folder's CMake makes a static archive; the whole
# archive is linked into a shared library under the library's own version script, stripped.
# On failure prints one line naming the step (its log is kept beside OUT) and exits 1.
# Usage: build-thunk.sh TARBALL OUT
set -euo pipefail
tarball=$1
out=$2
log="$out.log"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$log"

step() {
    local what=$1
    shift
    printf '== %s\n' "$what" >>"$log"
    "$@" >>"$log" 2>&1 || {
        echo "build-thunk: $what failed (log: $log)" >&2
        exit 1
    }
}

src="$work/src/libhsakmt"
step "unpacking $(basename "$tarball")" tar -xf "$tarball" -C "$work" --one-top-level=src \
    --strip-components=1 --wildcards '*/libhsakmt/*' --exclude='*/libhsakmt/tests'
step "configuring libhsakmt" cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
step "compiling libhsakmt" cmake --build "$work/build" --target hsakmt -j2
step "linking libhsakmt.so.1" gcc -shared -o "$work/libhsakmt.so.1" -Wl,-soname,libhsakmt.so.1 \
    -Wl,-z,defs -Wl,--version-script="$src/src/libhsakmt.ver" \
    -Wl,--whole-archive "$work/build/libhsakmt.a" -Wl,--no-whole-archive \
    -ldrm -ldrm_amdgpu -lnuma -lpthread
step "stripping libhsakmt.so.1" strip --strip-unneeded "$work/libhsakmt.so.1"
exported=$(nm -D --defined-only "$work/libhsakmt.so.1" | grep -c ' T hsaKmt' || true)
step "checking its exports ($exported hsaKmt functions)" test "$exported" -ge 10

rm -rf "$out.new"
mkdir -p "$out.new/lib" "$out.new/include"
install -m 0644 "$work/libhsakmt.so.1" "$out.new/lib/libhsakmt.so.1"
cp -r "$src/include/hsakmt" "$out.new/include/hsakmt"
cp "$src/LICENSE.md" "$out.new/LICENSE.md"
echo "$(basename "$tarball") SHA256:$(sha256sum <"$tarball" | cut -d' ' -f1)" >"$out.new/source"
rm -rf "$out"
mv "$out.new" "$out"
