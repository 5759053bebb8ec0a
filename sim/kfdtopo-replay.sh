#!/bin/sh
# kfdtopo-replay: runs kfdtopo, or another program, against kfdsim serving a fixture, a
# captured topology tree or a tarball of one, from a build tree or an installation.
set -u

me=kfdtopo-replay
version=@PROJECT_VERSION@
usage="Usage: $me FIXTURE|TREE|TARBALL [COMMAND [ARGS...]]"
# Our own failures, apart from every status the command may return.
own_failure=125
# A tarball's limits: those of a fixture's size, and of a tree's files.
max_bytes=268435456
max_entries=100000

fail() {
    printf '%s: %s\n' "$me" "$1" >&2
    exit "$own_failure"
}

usage_error() {
    printf '%s: %s\n%s\n' "$me" "$1" "$usage" >&2
    exit "$own_failure"
}

# Options come before the topology; what follows it is the command.
case "${1-}" in
    --help | -h)
        printf '%s\n' "$usage" "       $me --help | --version" \
            "Runs COMMAND (default: kfdtopo) with kfdsim serving FIXTURE, a JSON fixture," \
            "TREE, a captured KFD topology tree, or TARBALL, a .tar, .tar.gz or .tar.xz of one." \
            "  -h, --help        print this help" \
            "  --version         print the version"
        exit 0
        ;;
    --version)
        printf '%s %s\n' "$me" "$version"
        exit 0
        ;;
    --help=* | --version=*) usage_error "${1%%=*} takes no value" ;;
    --) shift ;;
    -?*) usage_error "unknown option \"${1%%=*}\"" ;;
esac
[ "$#" -gt 0 ] || usage_error "a fixture, tree or tarball is needed"
[ -n "$1" ] || usage_error "the topology is an empty name"

topology=$1
given=$1
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

# kfdsim and its checker lie beside this script's real location: sim/ in a build tree, a
# private directory of lib/ when installed, where the loader never looks by itself.
bin=$(dirname "$(readlink -f "$0")")
sim=
for dir in "$bin/../sim" "$bin/../lib/kfdtopo/kfdsim"; do
    if [ -f "$dir/libhsakmt.so.1" ] && [ -x "$dir/kfdsim-check" ]; then
        sim=$(cd "$dir" && pwd -P)
        break
    fi
done
[ -n "$sim" ] || fail "kfdsim (libhsakmt.so.1 and kfdsim-check) is in neither $bin/../sim nor $bin/../lib/kfdtopo/kfdsim"

# The first bytes of a file, in hexadecimal.
head_hex() {
    od -An -tx1 -N "$2" ${3:+-j "$3"} -- "$1" 2>/dev/null | tr -d ' \n'
}

# What a file is, by its first bytes $1 in hexadecimal, when it is plainly no fixture. A
# report starts with its bold "System" title (ESC [1m) or, escapes removed, the title alone.
name_wrong_kind() {
    case "$1" in
        1b5b316d53797374656d* | 53797374656d0a*)
            fail "$given: a kfdtopo report, not a fixture: replay the fixture or tree it was made from (kfdtopo-export writes one)" ;;
        7f454c46*) fail "$given: an executable program (ELF), not a fixture or tree" ;;
        504b0304*) fail "$given: a zip archive: kfdtopo-replay reads a fixture, a tree or a .tar, .tar.gz or .tar.xz of a tree" ;;
        425a68*) fail "$given: a bzip2 stream: kfdtopo-replay reads a fixture, plain or gzipped, or a .tar, .tar.gz or .tar.xz of a tree" ;;
    esac
}

# A tarball's members as stored (-P: tar strips nothing): refused if any leaves the archive
# or is no file, folder or link inside it, or if there are too many or too large together.
check_tarball() {
    listing=$(LC_ALL=C tar -P -tvf "$topology" 2>/dev/null) ||
        fail "$given: a damaged or cut tarball (tar cannot list it)"
    entries=$(printf '%s\n' "$listing" | grep -c .)
    [ "$entries" -le "$max_entries" ] ||
        fail "$given: $entries entries, more than the $max_entries a tarball may hold"
    bytes=$(printf '%s\n' "$listing" | awk '{ total += $3 } END { printf "%.0f", total }')
    [ "$bytes" -le "$max_bytes" ] ||
        fail "$given: $bytes bytes unpacked, more than the $max_bytes a tarball may hold"
    names=$(LC_ALL=C tar -P -tf "$topology" 2>/dev/null)
    if printf '%s\n' "$names" | grep -Eq '^/|(^|/)\.\.(/|$)'; then
        fail "$given: a member's path leaves the archive (absolute or with ..)"
    fi
    if printf '%s\n' "$listing" | grep -Eq '^[^-dlh]'; then
        fail "$given: holds a device, FIFO or other special file"
    fi
    if printf '%s\n' "$listing" | grep -E '^[lh]' | sed 's/.* -> //; s/.* link to //' |
        grep -Eq '^/|(^|/)\.\.(/|$)'; then
        fail "$given: a link leaves the archive (absolute or with ..)"
    fi
}

# The captured tree inside an unpacked tarball: the one folder with nodes/ and
# system_properties.
find_tree() {
    found=$(find "$1" -type f -name system_properties | while IFS= read -r file; do
        [ -d "${file%/*}/nodes" ] && printf '%s\n' "${file%/*}"
    done)
    count=$(printf '%s' "$found" | grep -c .)
    [ "$count" -gt 0 ] || fail "$given: a tarball without a captured topology tree (no folder holding nodes/ and system_properties)"
    [ "$count" -eq 1 ] || fail "$given: a tarball of $count topology trees; unpack it and name one"
    printf '%s\n' "$found"
}

unpacked=
if [ -f "$topology" ]; then
    magic=$(head_hex "$topology" 11)
    name_wrong_kind "$magic"
    tarball=no
    case "$magic" in
        1f8b*)
            case "$(gzip -dc -- "$topology" 2>/dev/null | od -An -tx1 -N 11 | tr -d ' \n')" in
                1b5b316d53797374656d* | 53797374656d0a*)
                    fail "$given: a gzipped kfdtopo report, not a fixture: replay the fixture or tree it was made from (kfdtopo-export writes one)" ;;
            esac
            gzip -dc -- "$topology" 2>/dev/null | tar -tf - >/dev/null 2>&1 && tarball=yes
            ;;
        fd377a585a00*)
            xz -dc -- "$topology" 2>/dev/null | tar -tf - >/dev/null 2>&1 && tarball=yes
            [ "$tarball" = yes ] ||
                fail "$given: an xz stream that holds no tarball: kfdsim reads a fixture plain or gzipped"
            ;;
        *) [ "$(head_hex "$topology" 5 257)" = 7573746172 ] && tarball=yes ;;
    esac
    if [ "$tarball" = yes ]; then
        check_tarball
        unpacked=$(mktemp -d "${TMPDIR:-/tmp}/kfdtopo-replay.XXXXXX") ||
            fail "cannot make a temporary folder to unpack $given into"
        trap 'chmod -R u+rwX "$unpacked" 2>/dev/null; rm -rf "$unpacked"' EXIT
        trap 'exit 129' HUP
        trap 'exit 130' INT
        trap 'exit 143' TERM
        tar -xf "$topology" -C "$unpacked" --no-same-owner --no-same-permissions 2>/dev/null ||
            fail "$given: cannot be unpacked into $unpacked"
        topology=$(find_tree "$unpacked") || exit "$own_failure"
    fi
fi

# kfdsim's refusal, in its own line, ends the replay before the command starts; a tree
# from a tarball is named inside the tarball, not in the temporary folder.
if ! refusal=$("$sim/kfdsim-check" "$topology" 2>&1); then
    if [ -n "$unpacked" ]; then
        refusal="kfdsim: $given: ${refusal#"kfdsim: $unpacked/"}"
    fi
    printf '%s\n' "$refusal" >&2
    exit "$own_failure"
fi

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
if [ -z "$unpacked" ]; then
    exec "$@"
fi
# The unpacked tree is removed once the command is done.
status=0
"$@" || status=$?
exit "$status"
