#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over every C++ source of ours in the dev
# build's compile database (cmake --preset dev writes build/compile_commands.json). Any
# finding fails the run; the findings are printed, the whole output kept in build/tidy.log.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)
log=build/tidy.log

[ -f build/compile_commands.json ] ||
    { echo "tidy: no build/compile_commands.json; configure the dev preset first"; exit 1; }
files=$(grep -F '"file": "'"$repo/" build/compile_commands.json | grep -c -v -F "$repo/build/" || true)
if run-clang-tidy -p build -j 2 -quiet "^$repo/(?!build/).*\.cpp$" >"$log" 2>&1; then
    echo "tidy: $files sources, no findings"
else
    sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E -A 3 ': (warning|error): ' || true
    echo "tidy: FAILED (whole output: $log)"
    exit 1
fi
