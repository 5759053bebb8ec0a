#!/bin/sh
# kfdtopo-healthcheck: Slurm's HealthCheckProgram for GPU nodes. Compares this node with its
# reference through kfdtopo-diff and drains the node, with the first differences as the
# reason, when it differs or cannot be compared. It never resumes a node: an administrator
# does, once the node is repaired.
#
# Settings, from the environment or from /etc/default/kfdtopo-healthcheck:
#   KFDTOPO_REFERENCE  the reference fixture (default /etc/kfdtopo/ref.json.gz)
#   KFDTOPO_DIFF       the command that compares (default kfdtopo-diff, beside this script
#                      when installed); the reference is its last argument
#   KFDTOPO_NODE       the node's Slurm name (default SLURMD_NODENAME, else the short host name)
set -u
me=kfdtopo-healthcheck
defaults=${KFDTOPO_HEALTHCHECK_DEFAULTS:-/etc/default/kfdtopo-healthcheck}
# shellcheck disable=SC1090
[ ! -r "$defaults" ] || . "$defaults"
PATH=$PATH:/usr/sbin:/usr/bin:/sbin:/bin

# The installed script lives in lib/kfdtopo, kfdtopo-diff in bin beside lib.
here=$(dirname "$(readlink -f "$0")")
default_diff=kfdtopo-diff
[ ! -x "$here/../../bin/kfdtopo-diff" ] || default_diff=$here/../../bin/kfdtopo-diff
reference=${KFDTOPO_REFERENCE:-/etc/kfdtopo/ref.json.gz}
node=${KFDTOPO_NODE:-${SLURMD_NODENAME:-$(hostname -s)}}
# Slurm keeps a reason short; the first findings say which device and field.
longest=200

# The differences come on standard output, trouble on standard error.
errors=$(mktemp) || exit 1
output=$(${KFDTOPO_DIFF:-$default_diff} "$reference" 2>"$errors")
status=$?
trouble=$(head -n 1 "$errors" | sed "s/^kfdtopo-diff: //")
rm -f "$errors"
case $status in
    0) exit 0 ;;
    1)
        count=$(printf '%s\n' "$output" | tail -n 1)
        first=$(printf '%s\n' "$output" | sed '$d' | head -n 2 | paste -sd ';' - | sed 's/;/; /g')
        reason="kfdtopo-diff: $first ($count)"
        ;;
    *) reason="kfdtopo-diff failed ($status): $trouble" ;;
esac
if [ "${#reason}" -gt "$longest" ]; then
    reason=$(printf '%s' "$reason" | cut -c "1-$((longest - 3))")...
fi
if ! scontrol update NodeName="$node" State=DRAIN Reason="$reason"; then
    printf '%s: could not drain %s: %s\n' "$me" "$node" "$reason" >&2
    exit 1
fi
printf '%s: drained %s: %s\n' "$me" "$node" "$reason" >&2
exit 1
