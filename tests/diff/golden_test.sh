#!/usr/bin/env bash
# kfdtopo-diff over the cases of tests/data/diff/cases.txt: each row's machine is a bundled
# capture with planted faults (tests/diff/plant.py), and stdout, stderr and the exit status
# must be those the row's files give, byte for byte. KFDTOPO_UPDATE_GOLDEN=1 rewrites them.
# Usage: golden_test.sh <bin dir> <tests/data>
set -euo pipefail
bin=$1 data=$2
plant=$(cd "$(dirname "$0")" && pwd)/plant.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The bases: exports of two captures, lean (two counter blocks a node) to load in a moment.
for base in mi210-x8-2socket mi308x-cpx; do
    "$bin/kfdtopo-replay" "$data/captures/$base" kfdtopo-export "$work/$base.full.json"
    python3 "$plant" "$work/$base.full.json" "$work/$base.json" lean
done

# A machine: "path:FILE" (in tests/data), "tree:NAME" (a capture), "export:NAME" (its whole
# export), "NAME" (the lean export) or "NAME+EDIT+EDIT..." (planted in the lean export, each
# planted once, all of them by one run of plant.py).
: >"$work/batch"
machine() {
    local name=$1
    case "$name" in
        path:*) echo "${name#path:}" ;;
        tree:*) echo "captures/${name#tree:}" ;;
        export:*) echo "$work/${name#export:}.full.json" ;;
        *+*)
            local out edits
            out=$work/planted-$(printf '%s' "$name" | md5sum | cut -c1-12).json
            IFS=+ read -ra edits <<<"${name#*+}"
            echo "$work/${name%%+*}.json $out ${edits[*]}" >>"$work/batch"
            echo "$out"
            ;;
        *) echo "$work/$name.json" ;;
    esac
}

cd "$data"
rows=()
while read -r line; do
    line=${line%%#*}
    read -ra words <<<"$line"
    [ "${#words[@]}" -lt 4 ] || rows+=("$line")
done <diff/cases.txt
# The machines first, planted all at once.
for row in "${rows[@]}"; do
    read -ra words <<<"$row"
    machine "${words[2]}" >/dev/null
    machine "${words[3]}" >/dev/null
done
python3 "$plant" --batch "$work/batch"

failed=0 count=0
for row in "${rows[@]}"; do
    read -ra words <<<"$row"
    name=${words[0]} status=${words[1]}
    reference=$(machine "${words[2]}")
    machine=$(machine "${words[3]}")
    got=0
    "$bin/kfdtopo-diff" "${words[@]:4}" "$reference" "$machine" >"$work/out" 2>"$work/err" || got=$?
    count=$((count + 1))
    if [ "${KFDTOPO_UPDATE_GOLDEN:-}" = 1 ]; then
        cp "$work/out" "diff/$name.out"
        if [ -s "$work/err" ]; then cp "$work/err" "diff/$name.err"; else rm -f "diff/$name.err"; fi
    fi
    if [ "$got" -ne "$status" ]; then
        echo "$name: exit status $got, expected $status"
        failed=$((failed + 1))
    elif ! cmp -s "$work/out" "diff/$name.out"; then
        echo "$name: stdout differs:"
        diff "diff/$name.out" "$work/out" | head -n 20 || true
        failed=$((failed + 1))
    elif ! cmp -s "$work/err" "$([ -f "diff/$name.err" ] && echo "diff/$name.err" || echo /dev/null)"; then
        echo "$name: stderr differs:"
        cat "$work/err"
        failed=$((failed + 1))
    fi
done
[ "$count" -gt 0 ] || { echo "no cases in diff/cases.txt"; exit 1; }
[ "$failed" -eq 0 ] || { echo "$failed of $count cases failed"; exit 1; }
echo "$count kfdtopo-diff cases pass"
