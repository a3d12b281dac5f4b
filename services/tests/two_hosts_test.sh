#!/usr/bin/env bash
# Two computers on one machine: network namespaces joined by a veth pair,
# each with its own address and a host name the other resolves. The message
# and stream services travel between them by name on the real ports.
# Needs root (it skips otherwise, exit 77).
set -u
tool=$1

source "$(dirname "$0")/netns.sh"

fail() { echo "FAIL: $*"; exit 1; }

# Messages both ways: beta serves, alpha posts by name, then the reverse.
on "$beta" beta "$tool" serve-msg 574 2 > "$work/beta.out" 2>&1 &
server=$!
sleep 0.5
on "$alpha" alpha "$tool" post-msg beta 574 alpha 'ItsMe=alpha|10.213.0.1' || fail "alpha -> beta message"
on "$alpha" alpha "$tool" post-msg beta 574 alpha $'MSG|\xcf\xf0\xe8\xe2\xe5\xf2' || fail "alpha -> beta chat"
wait $server || fail "beta's server"
grep -qx 'alpha|ItsMe=alpha|10.213.0.1' "$work/beta.out" || fail "beta got: $(cat "$work/beta.out")"
grep -qx $'alpha|MSG|\xcf\xf0\xe8\xe2\xe5\xf2' "$work/beta.out" || fail "beta got: $(cat "$work/beta.out")"

on "$alpha" alpha "$tool" serve-msg 574 1 > "$work/alpha.out" 2>&1 &
server=$!
sleep 0.5
on "$beta" beta "$tool" post-msg alpha 574 beta 'ItsMeToo=10.213.0.2' || fail "beta -> alpha message"
wait $server || fail "alpha's server"
grep -qx 'beta|ItsMeToo=10.213.0.2' "$work/alpha.out" || fail "alpha got: $(cat "$work/alpha.out")"

# A stream of a few megabytes on port 573 arrives byte for byte.
head -c 3000017 /dev/urandom > "$work/sent.bin"
on "$beta" beta "$tool" serve-strm 573 "$work/received.bin" > "$work/strm.out" 2>&1 &
server=$!
sleep 0.5
on "$alpha" alpha "$tool" post-strm beta 573 alpha "$work/sent.bin" || fail "alpha -> beta stream"
wait $server || fail "beta's stream server"
cmp -s "$work/sent.bin" "$work/received.bin" || fail "the stream arrived changed"
grep -qx 'alpha|3000017' "$work/strm.out" || fail "beta got: $(cat "$work/strm.out")"

# A name that does not resolve: no connection, a clear error.
out=$(on "$alpha" alpha "$tool" post-msg gamma 574 alpha 'x' 2>&1) && fail "posting to an unknown host succeeded"
[ "$out" = "Null Remote Address" ] || fail "unknown host gave: $out"
echo "two hosts: messages both ways, a 3 MB stream and an unknown name behaved"
