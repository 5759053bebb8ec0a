#!/bin/bash
# Each capture's golden report equals the real libhsakmt 6.2.4's report of it, except for lines
# that are no fact of the machine: MMIO remap addresses, and KFD GPU IDs where the capture has
# no gpu_id files.
set -eu
data=$1
status=0
for reference in "$data"/reference/*.out; do
    name=$(basename "$reference" .out)
    gpuIds=$(find "$data/captures/$name" -name gpu_id | head -n 1)
    mask() {
        awk -v ids="$gpuIds" '
            /^ *Type: MMIO remap$/ { mmio = NR + 6 }
            (NR == mmio && /^ *Virtual base address: /) || (ids == "" && /^ *KFD GPU ID: /) {
                sub(/: 0x[0-9a-f]+$/, ": (run-time value)")
            }
            { print }' "$1"
    }
    diff <(mask "$data/captures/$name.out") <(mask "$reference") || status=1
done
exit $status
