#!/bin/sh
# kfdtopo-replay: runs kfdtopo, or another program, against kfdsim serving a fixture or a
# captured topology tree, from a build tree or an installation.
set -u

me=kfdtopo-replay
usage="usage: $me FIXTURE|TREE [COMMAND [ARGS...]]"
# Our own failures, apart from every status the command may return.
own_failure=125

fail() {
    printf '%s: %s\n' "$me" "$1" >&2
    exit "$own_failure"
}

case "${1-}" in
    --help | -h)
        printf '%s\n' "$usage" \
            "Runs COMMAND (default: kfdtopo) with kfdsim serving FIXTURE, a JSON fixture," \
            "or TREE, a captured KFD topology tree."
        exit 0
        ;;
    "")
        [ "$#" -eq 0 ] || fail "the topology is an empty name"
        printf '%s\n' "$usage" >&2
        exit "$own_failure"
        ;;
esac

topology=$1
shift
if [ ! -e "$topology" ]; then
    fail "$topology: no such file or directory"
elif [ ! -r "$topology" ] || { [ -d "$topology" ] && [ ! -x "$topology" ]; }; then
    fail "$topology: not readable"
fi
case "$topology" in
    /*) ;;
    *) topology=$PWD/$topology ;;
esac

# kfdsim lies beside this script's real location: sim/ in a build tree, a private directory
# of lib/ when installed, where the loader never looks by itself.
bin=$(dirname "$(readlink -f "$0")")
sim=
for dir in "$bin/../sim" "$bin/../lib/kfdtopo/kfdsim"; do
    if [ -f "$dir/libhsakmt.so.1" ]; then
        sim=$(cd "$dir" && pwd -P)
        break
    fi
done
[ -n "$sim" ] || fail "kfdsim (libhsakmt.so.1) is in neither $bin/../sim nor $bin/../lib/kfdtopo/kfdsim"

if [ "$#" -eq 0 ]; then
    set -- kfdtopo
fi
# Our programs come from beside this script, whatever PATH holds.
case "$1" in
    kfdtopo | kfdtopo-*)
        if [ -x "$bin/$1" ]; then
            command=$1
            shift
            set -- "$bin/$command" "$@"
        fi
        ;;
esac

KFDSIM_TOPOLOGY=$topology
LD_LIBRARY_PATH=$sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
export KFDSIM_TOPOLOGY LD_LIBRARY_PATH
exec "$@"
