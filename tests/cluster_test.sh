#!/usr/bin/env bash
# The README's cluster recipes through the real clush and pdsh, with their local exec workers:
# each of 13 nodes replays its own machine, twelve that differ only in device identities and
# node07 with another SDMA firmware. Unfiltered, every node's report stands alone; through the
# README's script they fold into two groups, node07 alone. The script keeps kfdtopo's failure
# status, and clush and pdsh pass it on. On a busy machine clush writes its progress counter
# on standard error too, before the line naming a failed node.
# Usage: cluster_test.sh <bin dir> <fixture> <fixture that makes kfdtopo fail> <README.md>
set -euo pipefail
bin=$1 fixture=$2 failing=$3 readme=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$1"
    exit 1
}

# The README's own lines: the script it has users write, and the commands that run it.
write_script=$(sed -n 's/^    \(printf .* > ~\/kfdtopo-comparable && chmod +x ~\/kfdtopo-comparable\)$/\1/p' "$readme")
[ -n "$write_script" ] || fail "no line writing ~/kfdtopo-comparable in $readme"
for line in "clush -b -w 'gpu[01-16]' ~/kfdtopo-comparable" \
    "pdsh -w 'gpu[01-16]' ~/kfdtopo-comparable | dshbak -c"; do
    grep -Fxq "    $line" "$readme" || fail "no line \"$line\" in $readme"
done
filter=$(sed -n 's/^    kfdtopo | \(sed -E .*\)$/\1/p' "$readme" | head -n 1)
HOME=$work bash -c "$write_script"
script=$work/kfdtopo-comparable
[ -x "$script" ] || fail "the README's line wrote no executable ~/kfdtopo-comparable"
grep -Fxq "kfdtopo | $filter" "$script" || fail "the script does not run the README's filter"

python3 - "$fixture" "$work" <<'EOF'
import json, sys

source, work = sys.argv[1], sys.argv[2]
for machine in range(1, 14):
    with open(source) as f:
        topology = json.load(f)
    for index, node in enumerate(topology["nodes"]):
        properties = node["properties"]
        if properties.get("NumFComputeCores", 0) == 0:
            continue
        properties["UniqueID"] = 0x51E0_0000_0000_0000 + machine * 0x1_0000 + index
        properties["KFDGpuID"] = 1000 * machine + index
        properties["HiveID"] = 0x7000_0000 + machine
        if machine == 7:
            properties["uCodeEngineVersions"] += 1
    with open(f"{work}/node{machine:02}.json", "w") as f:
        json.dump(topology, f)
EOF
cp "$failing" "$work/failing.json"

export PATH=$bin:$PATH
# The names heading each group of nodes with one output, for clush -b and for dshbak -c.
groups() { grep -E '^node[][0-9,-]*( \([0-9]+\))?$' || true; }
nodes=(node01 node02 node03 node04 node05 node06 node07 node08 node09 node10 node11 node12 node13)
every_node_alone=$(printf '%s\n' "${nodes[@]}")

out=$(clush -R exec -b -w 'node[01-13]' kfdtopo-replay "$work/%h.json" kfdtopo | groups)
[ "$out" = "$every_node_alone" ] || fail "clush, unfiltered: not one group per node: $out"
out=$(pdsh -R exec -w 'node[01-13]' kfdtopo-replay "$work/%h.json" kfdtopo | dshbak -c | groups)
[ "$(sort <<<"$out")" = "$every_node_alone" ] ||
    fail "pdsh, unfiltered: not one group per node: $out"

out=$(clush -R exec -b -w 'node[01-13]' kfdtopo-replay "$work/%h.json" "$script" | groups)
[ "$(sort <<<"$out")" = $'node07\nnode[01-06,08-13] (12)' ] ||
    fail "clush, filtered: not node07 apart from the rest: $out"
out=$(pdsh -R exec -w 'node[01-13]' kfdtopo-replay "$work/%h.json" "$script" | dshbak -c | groups)
[ "$(sort <<<"$out")" = $'node07\nnode[01-06,08-13]' ] ||
    fail "pdsh, filtered: not node07 apart from the rest: $out"
# The folded report is the filtered report itself.
kfdtopo-replay "$work/node01.json" "$script" >"$work/node01.filtered"
grep -q 'Performance Counters' "$work/node01.filtered" || fail "node01's filtered report is cut"
clush -R exec -b -w 'node[01-02]' kfdtopo-replay "$work/%h.json" "$script" | sed '1,3d' |
    cmp - "$work/node01.filtered" || fail "clush folded something else than the filtered report"

status=0
kfdtopo-replay "$work/failing.json" "$script" >/dev/null 2>&1 || status=$?
expected=0
kfdtopo-replay "$work/failing.json" kfdtopo >/dev/null 2>&1 || expected=$?
[ "$expected" -ne 0 ] || fail "$failing does not make kfdtopo fail"
[ "$status" -eq "$expected" ] || fail "the script exits $status where kfdtopo exits $expected"
cp "$work/failing.json" "$work/node03.json"
status=0
clush -S -R exec -b -w 'node[01-04]' kfdtopo-replay "$work/%h.json" "$script" \
    >/dev/null 2>"$work/clush.err" || status=$?
[ "$status" -eq "$expected" ] || fail "clush -S exits $status, not $expected"
# A slow run shows clush's progress counter, ended by a carriage return, before the line.
tr '\r' '\n' <"$work/clush.err" | grep -q "^clush: node03: exited with exit code $expected$" ||
    fail "clush does not name node03's failure: $(cat "$work/clush.err")"
status=0
pdsh -S -R exec -w 'node[01-04]' kfdtopo-replay "$work/%h.json" "$script" \
    >/dev/null 2>"$work/pdsh.err" || status=$?
[ "$status" -eq "$expected" ] || fail "pdsh -S exits $status, not $expected"
grep -q "node03: .*exited with exit code $expected$" "$work/pdsh.err" ||
    fail "pdsh does not name node03's failure: $(cat "$work/pdsh.err")"
echo "clush -b and dshbak -c: 13 reports apart, 2 groups filtered; failure status $expected kept"
