#!/usr/bin/env bash
# Prints the first Debian archive URI of the machine's apt sources (deb822 or one-line
# style) whose suites include the release itself, not only its updates or security suites.
set -euo pipefail
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
uri=$(awk -v want="$codename" '
    function flush() { if (uris != "" && types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " want " ")) { split(uris, u, " "); print u[1]; found = 1; exit } uris = ""; suites = ""; types = "" }
    /^[[:space:]]*$/ { flush(); next }
    /^Types:/  { sub(/^Types:[[:space:]]*/, ""); types = $0 }
    /^URIs:/   { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
    /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
    END { if (!found) flush() }
' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v want="$codename" '$1 == "deb" {
        i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == want) { print $i; exit } }' /etc/apt/sources.list)
fi
[ -n "$uri" ] || { echo "debian-mirror: no Debian mirror found in the apt sources" >&2; exit 1; }
printf '%s\n' "${uri%/}"
