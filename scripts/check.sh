#!/usr/bin/env bash
# Runs every check: the test suite (Debug, with memcheck and install tests), clang-tidy over
# our sources, the suite again under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# fuzzing run, the benchmark's small sizes against its targets, the Debian packages and the
# archive built with the carried libhsakmt, checked by lintian and run unpacked, the suite built in a minimal
# Debian 13 root against that release's own libhsakmt and without Graphviz, and the packages
# built, installed and run there; setup's keeping of the carried library without a mirror.
# Ends with the line of setup that names a rocr-runtime newer than the pin, when there is one.
# Expects scripts/setup.sh to have run. FUZZ_SECONDS sets the fuzzing time (default 60).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

stages=(
    "cmake --workflow --preset dev"
    "bash scripts/tidy.sh"
    "cmake --workflow --preset asan"
    "bash scripts/fuzz.sh ${FUZZ_SECONDS:-60}"
    "python3 bench/run.py --small"
    "bash tests/package_test.sh ."
    "bash tests/debian13.sh"
    "bash tests/package_test.sh . build/debian13/root"
    "bash tests/setup_test.sh ."
)
passed=0
failed=0
for stage in "${stages[@]}"; do
    printf '\n==> %s\n' "$stage"
    if $stage; then
        passed=$((passed + 1))
    else
        printf '==> failed: %s\n' "$stage"
        failed=$((failed + 1))
    fi
done
printf '\ncheck: %d passed, %d failed\n' "$passed" "$failed"
if [ -f build/deps/newer ]; then
    printf 'check: %s\n' "$(cat build/deps/newer)"
fi
[ "$failed" -eq 0 ]
