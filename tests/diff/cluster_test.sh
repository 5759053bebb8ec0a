#!/usr/bin/env bash
# The README's reference workflow through the real clush and pdsh, with their local exec
# workers: 16 nodes each replay their own machine (the MI308X CPX capture, each with its own
# device identities) and compare it with one reference. Ten good nodes fold into one group
# saying "0 differences"; each of six nodes with a planted fault stands alone, its fault said
# in one line naming the device and the field.
# Usage: cluster_test.sh <bin dir> <tests/data> <README.md>
set -euo pipefail
bin=$1 data=$2 readme=$3
plant=$(cd "$(dirname "$0")" && pwd)/plant.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$1"
    exit 1
}

for line in "kfdtopo-export ref.json.gz" "clush -w @gpu -b kfdtopo-diff ref.json.gz" \
    "pdsh -w 'gpu[01-16]' kfdtopo-diff ref.json.gz | dshbak -c"; do
    grep -Fxq "    $line" "$readme" || fail "no line \"$line\" in $readme"
done

"$bin/kfdtopo-replay" "$data/captures/mi308x-cpx" kfdtopo-export "$work/full.json"
python3 "$plant" "$work/full.json" "$work/base.json" lean
# The reference is captured on a good node, as the README has it.
python3 "$plant" "$work/base.json" "$work/good.json" identities:99
"$bin/kfdtopo-replay" "$work/good.json" kfdtopo-export "$work/ref.json.gz"

# node: planted fault, and the one line that must name it.
declare -A faults=(
    [node03]="drop-gpu:80|GPU 0000:80:00 device: reference .* \\(4 partitions\\), machine none"
    [node05]="cut-links:a4:11|GPU 0000:a4:00 XGMI links with .*: reference 236, machine none"
    [node08]="set:c8:HiveID:0|GPU 0000:c8:00 hive: reference in the hive of GPU 0000:0a:00 \\(8 GPUs\\), machine outside any hive"
    [node10]="set:0a:uCodeEngineVersions:20|GPU 0000:0a:00 properties uCodeEngineVersions.uCodeSDMA: reference 19, machine 20"
    [node12]="drop-partition:0b.2|GPU 0001:0b:00 partitions: reference 4, machine 3"
    [node15]="bank:a4.1:0:SizeInBytes:25769803776|GPU 0000:a4:00.1 memory bank 0 SizeInBytes: reference 51539607552, machine 25769803776"
)
for n in $(seq -w 1 16); do
    edits=("identities:$n")
    if [ -n "${faults[node$n]-}" ]; then
        edits+=("${faults[node$n]%%|*}")
    fi
    python3 "$plant" "$work/base.json" "$work/node$n.json" "${edits[@]}"
done

export PATH=$bin:$PATH
good='node[01-02,04,06-07,09,11,13-14,16]'
# Each group: its header (the node names), then its output, for clush -b and dshbak -c.
check() {
    local tool=$1 out=$2 group
    grep -q '^0 differences$' "$out" || fail "$tool: no group of matching nodes"
    group=$(awk '/^-+$/ { n++; next } n % 2 == 1 { print }' "$out" | grep -Fx -e "$good" -e "$good (10)") ||
        fail "$tool: the ten good nodes are not one group: $(cat "$out")"
    for node in "${!faults[@]}"; do
        local expected=${faults[$node]#*|}
        awk -v node="$node" '/^-+$/ { n++; next } n % 2 == 1 { head = $0; next } head ~ "^" node "$" { print }' \
            "$out" >"$work/group"
        [ "$(sed '$d' "$work/group" | wc -l)" -eq 1 ] && grep -Eq "^$expected$" "$work/group" &&
            grep -Fxq "1 difference" "$work/group" ||
            fail "$tool: $node does not show \"$expected\" alone: $(cat "$work/group")"
    done
}
clush -R exec -w 'node[01-16]' -b kfdtopo-replay "$work/%h.json" kfdtopo-diff "$work/ref.json.gz" \
    >"$work/clush.out" 2>/dev/null || true
check clush "$work/clush.out"
pdsh -R exec -w 'node[01-16]' kfdtopo-replay "$work/%h.json" kfdtopo-diff "$work/ref.json.gz" 2>/dev/null |
    dshbak -c >"$work/pdsh.out"
check pdsh "$work/pdsh.out"
echo "clush -b and dshbak -c: 10 matching nodes in one group, 6 faulty nodes alone in one line each"
