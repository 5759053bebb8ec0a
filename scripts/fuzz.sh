#!/usr/bin/env bash
# Builds the fuzz preset and runs the fixture fuzzer for the given seconds (default 60).
#
# Seeds: the fixtures of tests/data up to 8 KiB, the refused fixtures of
# tests/data/refusals/refusals.txt, fuzz/seeds (inputs that once found a fault) and a properties
# file and tree, copied into build/fuzz/corpus, which keeps what earlier runs found, so that
# longer and repeated runs build on each other. A crash, leak,
# sanitizer report or hang is written to build/fuzz/findings and fails the script.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build="$repo/build/fuzz"
corpus="$build/corpus"
findings="$build/findings"

log() { printf 'fuzz: %s\n' "$*"; }

cd "$repo"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p "$corpus" "$findings"
find tests/data/report tests/data/export -name '*.json' -size -8k -exec cp {} "$corpus/" \;
cp fuzz/seeds/* "$corpus/"
# A row "fixture <text> => <message>" of the refusal table holds a fixture's text, \xHH a byte.
python3 -c '
import re, sys
for number, line in enumerate(open(sys.argv[1], "rb").read().split(b"\n")):
    if line.startswith(b"fixture "):
        text = line[len(b"fixture "):line.rfind(b" => ")]
        data = re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), text)
        open("%s/refused-%d.json" % (sys.argv[2], number), "wb").write(data)
' tests/data/refusals/refusals.txt "$corpus"
# Inputs starting with P are a properties file, with T a small tree (see fixture_fuzzer.cpp).
printf 'Pcpu_cores_count 4\nmem_banks_count 1\n' >"$corpus/seed-properties"
printf 'Tsimd_count 4\nmem_banks_count 1\nio_links_count 1\n~\ncpu_cores_count 2\n~\nsize_in_bytes 4096\n~\nnode_from 0\nnode_to 1\n~\n{"nodes": [{}, {"properties": {"MarketingName": "x"}}]}' >"$corpus/seed-tree"

log "running fixture_fuzzer for $seconds s over $(find "$corpus" -type f | wc -l) inputs"
start="$build/fuzz-start"
touch "$start"
status=0
"$build/bin/fixture_fuzzer" "$corpus" \
    -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -dict="$repo/fuzz/fixture.dict" -artifact_prefix="$findings/" -print_final_stats=1 ||
    status=$?

found=$(find "$findings" -type f -newer "$start")
if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    log "the fuzzer stopped with status $status; inputs it saved:"
    for input in $found; do
        log "  $input (rerun: $build/bin/fixture_fuzzer $input)"
    done
    exit 1
fi
log "nothing found in $seconds s; corpus: $(find "$corpus" -type f | wc -l) inputs in $corpus"
