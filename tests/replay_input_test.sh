#!/usr/bin/env bash
# kfdtopo-replay replays a .tar, .tar.gz and .tar.xz of a captured tree as the tree itself and
# leaves no unpacked folder behind; it refuses the inputs of tests/data/replay/inputs.txt in
# their one line, with status 125, before the command starts.
# Usage: replay_input_test.sh <kfdtopo-replay> <tests/data>
set -euo pipefail
replay=$1 data=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"
export TMPDIR=$work/tmp
cd "$work"
failures=0
failed() {
    echo "$1"
    failures=$((failures + 1))
}

# The README's capture recipe, and its tarballs.
mkdir -p kfd-capture
cp -r "$data/captures/vega10-mi25/topology" kfd-capture/
tar cf capture.tar kfd-capture
tar czf capture.tar.gz kfd-capture
tar cJf capture.tar.xz kfd-capture
for tarball in capture.tar capture.tar.gz capture.tar.xz; do
    "$replay" "$tarball" >out || failed "$tarball: exits $?"
    cmp -s out "$data/captures/vega10-mi25.out" || failed "$tarball: the replay differs from the tree's"
done
status=0
"$replay" capture.tar.gz sh -c 'exit 7' || status=$?
[ "$status" -eq 7 ] || failed "a tarball's command exits 7, kfdtopo-replay $status"
[ -z "$(ls tmp)" ] || failed "unpacked folders left behind: $(ls tmp)"

# The inputs to refuse.
cp "$data/refusals/bad-list-cap.json" refused.json
"$replay" "$data/report/2cpu-1gpu-banks-links.json" >report.txt
sed 's/\x1b\[[0-9;]*m//g' report.txt >plain-report.txt
gzip -k report.txt
cp /bin/true program
xz -k -c "$data/report/2cpu-1gpu-banks-links.json" >fixture.json.xz
tar czf no-tree.tar.gz report.txt
cp -r kfd-capture kfd-capture-2
mkdir refused && cp -r kfd-capture refused/
echo garbage >refused/kfd-capture/topology/nodes/1/properties
tar czf refused-tree.tar.gz -C refused kfd-capture
tar cf two-trees.tar kfd-capture kfd-capture-2
truncate -s 268435457 large
tar cSzf large.tar.gz large
python3 - <<'PY'
import io, tarfile
def tarball(name, member, kind, target=""):
    with tarfile.open(name, "w:gz") as out:
        info = tarfile.TarInfo(member)
        info.type, info.linkname = kind, target
        out.addfile(info, io.BytesIO(b""))
tarball("dotdot.tar.gz", "kfd-capture/../../evil", tarfile.REGTYPE)
tarball("absolute.tar.gz", "/tmp/evil", tarfile.REGTYPE)
tarball("symlink.tar.gz", "kfd-capture/topology/system_properties", tarfile.SYMTYPE, "/etc/passwd")
tarball("hardlink.tar.gz", "kfd-capture/link", tarfile.LNKTYPE, "../evil")
tarball("device.tar.gz", "kfd-capture/null", tarfile.CHRTYPE)
PY
while IFS='|' read -r input expected; do
    read -r input <<<"$input"
    case "$input" in '' | '#'*) continue ;; esac
    read -r expected <<<"$expected"
    expected=${expected//\{work\}/$work}
    status=0
    "$replay" "$input" sh -c 'echo started' >out 2>err || status=$?
    [ "$status" -eq 125 ] || failed "$input: exits $status, not 125"
    [ ! -s out ] || failed "$input: the command started"
    [ "$(cat err)" = "$expected" ] || failed "$input: says \"$(cat err)\""
done <"$data/replay/inputs.txt"
[ -z "$(ls tmp)" ] || failed "unpacked folders left behind: $(ls tmp)"
[ "$failures" -eq 0 ] && echo "kfdtopo-replay replays tarballs and refuses wrong inputs in one line"
[ "$failures" -eq 0 ]
