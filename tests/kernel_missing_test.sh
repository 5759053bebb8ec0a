#!/usr/bin/env bash
# The real library behind the stand-in kernel on a capture with one file removed per row of the
# table: the file stays missing for the library, which fails as it does on a real machine.
# Usage: kernel_missing_test.sh <stand-in kernel> <kfdtopo> <capture topology> <table>
set -euo pipefail
kernel=$1 kfdtopo=$2 capture=$3 table=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs kfdtopo on a tree: stdout to $work/out, stderr without libdrm's notes to $work/err.
run() {
    local status=0
    env -u LD_LIBRARY_PATH LD_PRELOAD="$kernel" KFDKERNEL_TOPOLOGY="$1" "$kfdtopo" \
        >"$work/out" 2>"$work/raw" || status=$?
    grep -v 'amdgpu_device_initialize: ' "$work/raw" >"$work/err" || true
    return "$status"
}

run "$capture" || { echo "FAILED: the whole capture does not run"; cat "$work/err"; exit 1; }
cp "$work/out" "$work/whole"

failed=0
while read -r removed status kept message; do
    case $removed in '' | '#'*) continue ;; esac
    rm -rf "$work/tree"
    cp -r "$capture" "$work/tree"
    rm "$work/tree/$removed"
    got=0
    run "$work/tree" || got=$?
    if [ "$kept" = all ]; then
        cp "$work/whole" "$work/expected"
    else
        head -n "$kept" "$work/whole" >"$work/expected"
    fi
    last=$(tail -n 1 "$work/err")
    [ "$message" = - ] && message=""
    if [ "$got" != "$status" ] || ! cmp -s "$work/out" "$work/expected" || [ "$last" != "$message" ]; then
        echo "FAILED: without $removed: status $got, '$last', the report's first lines:"
        head -n 3 "$work/out"
        failed=1
    else
        echo "without $removed: status $got${message:+, $message}"
    fi
done <"$table"
exit "$failed"
