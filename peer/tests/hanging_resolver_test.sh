#!/usr/bin/env bash
# Runs the session's look-up race in a network namespace of its own whose
# resolver (127.0.0.1 there, held by the test, never answering) hangs every
# look-up of a name outside the hosts file. Exits 77 (skip) without root.
set -u
tests=$1
[ "$(id -u)" -eq 0 ] && command -v ip >/dev/null || exit 77
ns=dz-dns-$$
cleanup() { ip netns del "$ns" 2>/dev/null; rm -rf "/etc/netns/$ns"; }
trap cleanup EXIT
ip netns add "$ns" || exit 77
ip -n "$ns" link set lo up
mkdir -p "/etc/netns/$ns"
printf '127.0.0.1 localhost\n' > "/etc/netns/$ns/hosts"
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:1\n' > "/etc/netns/$ns/resolv.conf"
DZ_SILENT_RESOLVER=1 ip netns exec "$ns" "$tests" --gtest_filter='SessionRaces.ClosingWhileANameLookupHangsIsBounded'
