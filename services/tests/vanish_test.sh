#!/usr/bin/env bash
# A peer that vanishes in the middle of a stream (its link goes down, no
# close, no reset ever arrives) frees its connection on the server within
# the idle limit. Two hosts in network namespaces; needs root (skips, 77).
set -u
tool=$1

source "$(dirname "$0")/netns.sh"

fail() { echo "FAIL: $*"; exit 1; }
live() { tail -n 1 "$work/watch.out" 2>/dev/null; }

# beta serves streams with an idle limit of 2 s and reports its live connections.
on "$beta" beta "$tool" watch-strm 573 2000 60 > "$work/watch.out" 2>&1 &
sleep 0.5
# alpha announces 100 MB and sends 1 KiB every 100 ms.
on "$alpha" alpha "$tool" post-trickle beta 573 100000000 > /dev/null 2>&1 &
for _ in $(seq 100); do [ "$(live)" = "live 1" ] && break; sleep 0.1; done
[ "$(live)" = "live 1" ] || fail "the stream never started: $(cat "$work/watch.out")"
sleep 1
[ "$(live)" = "live 1" ] || fail "a moving stream was cut: $(cat "$work/watch.out")"

ip -n "$alpha" link set "va$tag" down
start=$(date +%s%3N)
for _ in $(seq 200); do [ "$(live)" = "live 0" ] && break; sleep 0.1; done
[ "$(live)" = "live 0" ] || fail "the vanished peer's connection is still live after 20 s"
echo "vanished peer: connection freed $(( $(date +%s%3N) - start )) ms after the link went down (idle limit 2000 ms)"
