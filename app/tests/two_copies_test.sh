#!/usr/bin/env bash
# Two copies of the window on two hosts (network namespaces, real ports 573
# and 574): alpha connects to beta by name, they chat both ways, alpha
# closes and says goodbye. Checks both windows and both chat logs.
set -u
driver=$1
source "$(dirname "$0")/../../services/tests/netns.sh"
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/a" "$work/b"
hello=$'\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82' # Привет
yes=$'\xd0\x94\xd0\xb0'                                   # Да
on "$beta" beta "$driver" "$work/b/" wait-peer wait-lines 1 say "$yes" wait-lines 2 wait-bye > "$work/beta.out" 2> "$work/beta.err" &
beta_pid=$!
sleep 1
on "$alpha" alpha "$driver" "$work/a/" connect beta wait-peer say "$hello" wait-lines 2 close > "$work/alpha.out" 2> "$work/alpha.err" ||
  fail "alpha: $(cat "$work/alpha.out" "$work/alpha.err")"
wait $beta_pid || fail "beta: $(cat "$work/beta.out" "$work/beta.err")"

grep -q '^remote=beta ip=10.213.0.2 msg=1 send=1$' "$work/alpha.out" || fail "alpha ended as: $(cat "$work/alpha.out")"
grep -q '^remote= ip= msg=0 send=0$' "$work/beta.out" || fail "beta ended as: $(cat "$work/beta.out")"
for side in alpha beta; do
  out="$work/$side.out"
  [ "$(grep -c '^chat ' "$out")" -eq 2 ] || fail "$side log: $(cat "$out")"
  sed -n '2p' "$out" | grep -Eq "^chat [0-9]{2}:[0-9]{2}:[0-9]{2}\|beta \| $yes\$" || fail "$side newest line: $(cat "$out")"
  sed -n '3p' "$out" | grep -Eq "^chat [0-9]{2}:[0-9]{2}:[0-9]{2}\|alpha \| $hello\$" || fail "$side older line: $(cat "$out")"
done
# The chat logs on disk: Windows-1251, CR LF, newest first.
for dir in a b; do
  log="$work/$dir/~MSG.txt"
  [ "$(wc -l < "$log")" -eq 2 ] || fail "$log has $(wc -l < "$log") lines"
  [ "$(grep -c $'\r$' "$log")" -eq 2 ] || fail "$log lines do not end in CR LF"
  iconv -f CP1251 -t UTF-8 "$log" | tail -n 1 | grep -q "alpha | $hello" || fail "$log: $(iconv -f CP1251 -t UTF-8 "$log")"
done
grep -q '^ComputerName=beta' "$work/a/Dizaruz.ini" && grep -q '^ComputerIP=10.213.0.2' "$work/a/Dizaruz.ini" ||
  fail "alpha's INI: $(cat "$work/a/Dizaruz.ini")"
echo "two copies on two hosts: introduced, chatted both ways, said goodbye"
