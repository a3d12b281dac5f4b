#!/usr/bin/env bash
# Two copies with keys on two hosts (network namespaces, real ports), with a
# capture on the link between them: once they have pinned each other, a chat
# line and a file cross it, and neither shows in the capture, while the
# introduction before the pins does (so the capture saw the link at all).
set -u
driver=$1
source "$(dirname "$0")/../../services/tests/netns.sh"
command -v tcpdump > /dev/null || exit 77
fail() { echo "FAIL: $*"; exit 1; }
unset DISPLAY
export QT_QPA_PLATFORM=offscreen

mkdir -p "$work/a" "$work/b" "$work/b-in" "$work/src"
chat="chat-line-that-must-not-show-9d41"
for _ in $(seq 4096); do echo "file-bytes-that-must-not-show-52c7"; done > "$work/src/secret.txt"

ip netns exec "$alpha" tcpdump -i "va$tag" --immediate-mode -U -w "$work/link.pcap" tcp > "$work/tcpdump.log" 2>&1 &
dump_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/tcpdump.log" && break; sleep 0.05; done
grep -q 'listening on' "$work/tcpdump.log" || fail "tcpdump: $(cat "$work/tcpdump.log")"

on "$beta" beta "$driver" "$work/b/" folder "$work/b-in" wait-peer wait-encrypted wait-lines 1 wait-received 1 \
  wait-bye > "$work/beta.out" 2> "$work/beta.err" &
beta_pid=$!
sleep 1
on "$alpha" alpha "$driver" "$work/a/" connect beta wait-peer wait-encrypted wait-ready say "$chat" wait-lines 1 \
  add "$work/src/secret.txt" send wait-sent close > "$work/alpha.out" 2> "$work/alpha.err" ||
  fail "alpha: $(cat "$work/alpha.out" "$work/alpha.err")"
wait $beta_pid || fail "beta: $(cat "$work/beta.out" "$work/beta.err")"
kill -INT "$dump_pid"; wait "$dump_pid" 2>/dev/null

cmp "$work/src/secret.txt" "$work/b-in/secret.txt" || fail "the file differs"
grep -q "$chat" "$work/beta.out" || fail "beta's chat: $(cat "$work/beta.out")"
[ -s "$work/a/Dizaruz-key.pem" ] && [ "$(stat -c %a "$work/a/Dizaruz-key.pem")" = 600 ] || fail "alpha's key file"
grep -aq 'ItsMe=alpha' "$work/link.pcap" || fail "the capture missed the introduction: $(cat "$work/tcpdump.log")"
! grep -aq "$chat" "$work/link.pcap" || fail "the chat line crossed in clear"
! grep -aq 'file-bytes-that-must-not-show' "$work/link.pcap" || fail "the file crossed in clear"
! grep -q '^message: ' "$work/alpha.err" "$work/beta.err" || fail "a message box: $(grep -h '^message: ' "$work"/*.err)"
echo "two copies with keys: chat and file crossed encrypted only"
