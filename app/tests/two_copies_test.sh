#!/usr/bin/env bash
# Two copies of the window on two hosts (network namespaces, real ports 573
# and 574) on one X display: alpha connects to beta by name, they chat both
# ways, alpha sends four files (one unchecked, one empty), beta sends one
# back, alpha closes and says goodbye. Checks both windows, the received
# files byte for byte, and every state file and chat log on disk.
set -u
driver=$1
source "$(dirname "$0")/../../services/tests/netns.sh"
fail() { echo "FAIL: $*"; exit 1; }

# One Xvfb for both copies; its socket is a file, so both namespaces reach it.
if command -v Xvfb > /dev/null; then
  for n in $(seq 90 130); do [ -e "/tmp/.X$n-lock" ] || break; done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export DISPLAY=":$n"
else
  unset DISPLAY # offscreen
fi

mkdir -p "$work/a" "$work/b" "$work/a-in" "$work/b-in" "$work/src" "$work/bsrc"
hello=$'\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82' # Привет
yes=$'\xd0\x94\xd0\xb0'                                   # Да
report="$work/src/"$'\xd0\x9e\xd1\x82\xd1\x87\xd1\x91\xd1\x82'" за май.txt" # Отчёт за май.txt
answer="$work/bsrc/"$'\xd0\xbe\xd1\x82\xd0\xb2\xd0\xb5\xd1\x82'".txt"       # ответ.txt
printf 'Итоги месяца: всё в порядке.\r\n' | iconv -f UTF-8 -t CP1251 > "$report"
echo "stays here" > "$work/src/skip.txt"
: > "$work/src/empty.dat"
head -c 8388613 /dev/urandom > "$work/src/big.bin"
echo "received, thank you" > "$answer"

on "$beta" beta "$driver" "$work/b/" folder "$work/b-in" wait-peer wait-lines 1 say "$yes" wait-lines 2 \
  wait-received 3 add "$answer" send wait-sent wait-bye > "$work/beta.out" 2> "$work/beta.err" &
beta_pid=$!
sleep 1
on "$alpha" alpha "$driver" "$work/a/" folder "$work/a-in" connect beta wait-peer say "$hello" wait-lines 2 \
  add "$report" add "$work/src/skip.txt" add "$work/src/empty.dat" add "$work/src/big.bin" \
  uncheck "$work/src/skip.txt" send wait-sent wait-received 1 close > "$work/alpha.out" 2> "$work/alpha.err" ||
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
grep -q "^SubDir_for_Reciv=$work/b-in/" "$work/b/Dizaruz.ini" || fail "beta's INI: $(cat "$work/b/Dizaruz.ini")"

# The files: the checked ones arrived whole, the empty one as an empty file.
cmp "$report" "$work/b-in/${report##*/}" || fail "the Cyrillic-named file differs"
cmp "$work/src/big.bin" "$work/b-in/big.bin" || fail "the large file differs"
cmp "$answer" "$work/a-in/${answer##*/}" || fail "the file sent back differs"
[ -f "$work/b-in/empty.dat" ] && [ ! -s "$work/b-in/empty.dat" ] || fail "the empty file did not arrive"
[ "$(ls -A "$work/b-in" | wc -l)" -eq 3 ] || fail "beta's folder holds: $(ls -A "$work/b-in")"
[ "$(ls -A "$work/a-in" | wc -l)" -eq 1 ] || fail "alpha's folder holds: $(ls -A "$work/a-in")"

# The send lists: only the unchecked row stays, on screen and on disk.
grep -q "^send 0 $work/src/skip.txt\$" "$work/alpha.out" && [ "$(grep -c '^send ' "$work/alpha.out")" -eq 1 ] ||
  fail "alpha's send list: $(grep '^send ' "$work/alpha.out")"
[ "$(cat "$work/a/~ListFile_send.txt")" = "$work/src/skip.txt"$'\r' ] || fail "alpha's send list file: $(cat -A "$work/a/~ListFile_send.txt")"
[ ! -s "$work/b/~ListFile_send.txt" ] || fail "beta's send list file: $(cat -A "$work/b/~ListFile_send.txt")"

# The receive lists, newest first: "date time | sender | name".
row='^[^|]+ [0-9]{2}:[0-9]{2}:[0-9]{2} \| '
recv=$(iconv -f CP1251 -t UTF-8 "$work/b/~ListFile_reciv.txt" | tr -d '\r')
[ "$(echo "$recv" | wc -l)" -eq 3 ] &&
  echo "$recv" | sed -n 1p | grep -Eq "${row}alpha \| big.bin\$" &&
  echo "$recv" | sed -n 2p | grep -Eq "${row}alpha \| empty.dat\$" &&
  echo "$recv" | sed -n 3p | grep -Eq "${row}alpha \| ${report##*/}\$" || fail "beta's receive list file: $recv"
[ "$(grep -c $'\r$' "$work/b/~ListFile_reciv.txt")" -eq 3 ] || fail "beta's receive list lines do not end in CR LF"
[ "$(grep -c '^recv ' "$work/beta.out")" -eq 3 ] || fail "beta's receive list: $(grep '^recv ' "$work/beta.out")"
iconv -f CP1251 -t UTF-8 "$work/a/~ListFile_reciv.txt" | tr -d '\r' | grep -Eq "${row}beta \| ${answer##*/}\$" ||
  fail "alpha's receive list file: $(cat "$work/a/~ListFile_reciv.txt")"
! grep -q '^message: ' "$work/alpha.err" "$work/beta.err" || fail "a message box: $(grep -h '^message: ' "$work"/*.err)"
echo "two copies on two hosts: introduced, chatted, copied files both ways, said goodbye"
