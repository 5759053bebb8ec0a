#!/usr/bin/env bash
# The README's filter for comparing reports, taken from the README itself: two runs that
# differ only in per-device identities, the MMIO remap address and counter flags compare
# equal once filtered; a machine with another aperture address does not.
# Usage: compare_test.sh <kfdtopo> <kfdsim dir> <tests/data/compare> <README.md>
set -euo pipefail
tool=$1 sim=$2 data=$3 readme=$4
filter=$(sed -n 's/^    kfdtopo | \(sed -E .*\)$/\1/p' "$readme" | head -n 1)
[ -n "$filter" ] || { echo "no 'kfdtopo | sed -E ...' line in $readme"; exit 1; }
raw() { KFDSIM_TOPOLOGY="$data/$1" LD_LIBRARY_PATH="$sim" "$tool"; }
filtered() { raw "$1" | bash -c "$filter"; }

! cmp -s <(raw run-1.json) <(raw run-2.json) || { echo "the two runs do not differ"; exit 1; }
cmp <(filtered run-1.json) <(filtered run-2.json) || { echo "filtered runs differ"; exit 1; }
! cmp -s <(filtered run-1.json) <(filtered other-aperture.json) ||
    { echo "the filter hides a real difference"; exit 1; }
echo "filtered reports: two runs equal, another machine different"
