#!/usr/bin/env bash
# The origin that kfdtopo-export records, with the real library behind the stand-in kernel:
# this host, its kernel release, the library file that answered, kfdtopo's version and the
# time; and kfdtopo-diff, reading the same machine live, finds nothing to say about it.
# Usage: origin_test.sh <bin dir> <stand-in kernel library> <tree> <kfdtopo version>
set -euo pipefail
bin=$1 kernel=$2 tree=$3 version=$4
# The libhsakmt the loader gives kfdtopo-export: the carried one, or one named by HSAKMT_ROOT.
library=$(env -u LD_LIBRARY_PATH ldd "$bin/kfdtopo-export" | awk '$1 == "libhsakmt.so.1" { path = $3 } END { print path }')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
real() { env -u LD_LIBRARY_PATH LD_PRELOAD="$kernel" KFDKERNEL_TOPOLOGY="$tree" "$@" 2>/dev/null; }

before=$(date -u +%s)
real "$bin/kfdtopo-export" "$work/capture.json"
after=$(date -u +%s)
python3 - "$work/capture.json" "$(hostname)" "$(uname -r)" "$version" "$before" "$after" \
    "$(readlink -f "$library")" <<'PYTHON'
import calendar, json, sys, time
path, host, kernel, version, before, after, library = sys.argv[1:]
fixture = json.load(open(path))
keys = list(fixture)
assert keys[:2] == ["format", "origin"], f"format and origin do not lead: {keys}"
assert fixture["format"] == 1, fixture["format"]
origin = fixture["origin"]
expected = {"host": host, "kernel": kernel, "kfdtopo": version, "library": library}
for key, value in expected.items():
    assert origin[key] == value, f"origin {key}: {origin[key]!r}, expected {value!r}"
stamp = calendar.timegm(time.strptime(origin["time"], "%Y-%m-%dT%H:%M:%SZ"))
assert int(before) <= stamp <= int(after), f"time {origin['time']} outside the run"
PYTHON
out=$(real "$bin/kfdtopo-diff" "$work/capture.json") ||
    { echo "kfdtopo-diff on the captured machine: $out"; exit 1; }
[ "$out" = "0 differences" ] || { echo "kfdtopo-diff on the captured machine: $out"; exit 1; }
echo "the export records where it ran; kfdtopo-diff finds the machine it captured the same"
