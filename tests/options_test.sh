#!/usr/bin/env bash
# Runs the option cases of tests/data/options/cases.txt over every tool named on the command
# line; each case that fails is named, and the test fails if any did.
# Usage: options_test.sh <cases.txt> <kfdsim dir> <version> <name>:<usage status>:<path>...
set -uo pipefail
cases=$1 sim=$2 version=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tools that need a machine get kfdsim's built-in one.
export LD_LIBRARY_PATH=$sim KFDSIM_TOPOLOGY=
failures=0 runs=0

# run <path> <arguments as shell words> <prefix>: <prefix>.out, .err and .status
run() {
    local words
    eval "words=($2)"
    (cd "$work" && "$1" "${words[@]}" </dev/null >"$3.out" 2>"$3.err")
    echo $? >"$3.status"
}

failed() {
    echo "$tool $arguments: $1"
    ok=no
}

# matches <line> <expected, with a trailing * for any rest>
matches() {
    case "$2" in
        *'*') [[ "$1" == "${2%\*}"* ]] ;;
        *) [ "$1" = "$2" ] ;;
    esac
}

for tool_entry in "$@"; do
    IFS=: read -r tool usage_status path <<<"$tool_entry"
    run "$path" --help "$work/help"
    usage_line=$(head -n 1 "$work/help.out")
    while IFS='|' read -r tools arguments status stream expected; do
        # read trims the blanks around each column.
        for column in tools arguments status stream expected; do
            read -r "${column?}" <<<"${!column}"
        done
        case "$tools" in
            '' | '#'*) continue ;;
        esac
        [ "$tools" = '*' ] || [[ " $tools " == *" $tool "* ]] || continue
        runs=$((runs + 1)) ok=yes
        run "$path" "$arguments" "$work/run"
        [ "$status" = usage ] && status=$usage_status
        if [ "$stream" = same ]; then
            run "$path" "$expected" "$work/same"
            for part in status out err; do
                cmp -s "$work/run.$part" "$work/same.$part" || failed "its $part differs from $expected's"
            done
            [ "$ok" = yes ] || failures=$((failures + 1))
            continue
        fi
        expected=${expected//\{program\}/$tool}
        expected=${expected//\{version\}/$version}
        [ "$(cat "$work/run.status")" = "$status" ] ||
            failed "exits $(cat "$work/run.status"), not $status"
        other=$([ "$stream" = out ] && echo err || echo out)
        [ ! -s "$work/run.$other" ] || failed "writes to std$other: $(head -n 1 "$work/run.$other")"
        matches "$(head -n 1 "$work/run.$stream")" "$expected" ||
            failed "says \"$(head -n 1 "$work/run.$stream")\", not \"$expected\""
        if [ "$status" = "$usage_status" ] && [ "$status" != 0 ]; then
            [ "$(sed -n 2p "$work/run.err")" = "$usage_line" ] ||
                failed "follows with \"$(sed -n 2p "$work/run.err")\", not the usage line"
            [ "$(wc -l <"$work/run.err")" -eq 2 ] || failed "says more than two lines"
        fi
        [ "$ok" = yes ] || failures=$((failures + 1))
    done <"$cases"
done
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
