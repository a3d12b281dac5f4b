#!/usr/bin/env bash
# Two copies on two hosts that cannot resolve each other's names (no hosts
# entries, no DNS): alpha's user types beta's address; beta answers the
# introduction, chats and sends a file back to "alpha", a name it cannot
# resolve, reaching it at the address the introduction came from. No
# "invalid host" box on either side.
set -u
driver=$1
NETNS_NAMES=none
source "$(dirname "$0")/../../services/tests/netns.sh"
fail() { echo "FAIL: $*"; exit 1; }
export QT_QPA_PLATFORM=offscreen
unset DISPLAY

mkdir -p "$work/a" "$work/b" "$work/a-in" "$work/bsrc"
echo "back to you" > "$work/bsrc/back.txt"

on "$beta" beta "$driver" "$work/b/" wait-peer wait-lines 1 say "hello alpha" wait-lines 2 \
  add "$work/bsrc/back.txt" send wait-sent wait-bye > "$work/beta.out" 2> "$work/beta.err" &
beta_pid=$!
sleep 1
on "$alpha" alpha "$driver" "$work/a/" folder "$work/a-in" connect 10.213.0.2 wait-peer say "hello beta" \
  wait-lines 2 wait-received 1 close > "$work/alpha.out" 2> "$work/alpha.err" ||
  fail "alpha: $(cat "$work/alpha.out" "$work/alpha.err")"
wait $beta_pid || fail "beta: $(cat "$work/beta.out" "$work/beta.err")"

grep -q '^remote=10.213.0.2 ip=10.213.0.2 ' "$work/alpha.out" || fail "alpha ended as: $(cat "$work/alpha.out")"
cmp "$work/bsrc/back.txt" "$work/a-in/back.txt" || fail "the file sent back did not arrive"
[ "$(grep -c '^chat ' "$work/beta.out")" -eq 2 ] || fail "beta's log: $(cat "$work/beta.out")"
! grep -q '^message: ' "$work/alpha.err" "$work/beta.err" || fail "a message box: $(grep -h '^message: ' "$work"/*.err)"
echo "names that do not resolve: introduced by address, chatted, a file went back by the introduction's address"
