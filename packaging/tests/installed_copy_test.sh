#!/usr/bin/env bash
# An installed copy as ordinary users run it: its state in the user's own
# folders, one copy per user, a later start forwarded to the running copy,
# and a copy that is closing never swallowing a start. The program is played
# by installed_harness (the program's own start-up with answered dialogs),
# put into a temporary install prefix and run under throw-away user ids.
#   installed_copy_test.sh HARNESS
# Needs root to take other user ids (exit 77 otherwise).
set -euo pipefail
harness=$1

[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to run as other users"; exit 77; }
command -v setpriv >/dev/null || { echo "SKIP: setpriv is not installed"; exit 77; }

tmp=$(mktemp -d)
chmod 755 "$tmp"
bin=$tmp/usr/bin
mkdir -p "$bin"
install -m 755 "$harness" "$bin/dizaruz"
userA=64990 userB=64991
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

home() { echo "$tmp/home-$1"; }
for uid in $userA $userB; do
  mkdir -p "$(home "$uid")/run"
  chown -R "$uid:$uid" "$(home "$uid")"
  chmod 700 "$(home "$uid")/run"
done

# as UID PROGRAM MODE: runs the copy as that user, in a clean environment.
as() {
  local uid=$1; shift
  setpriv --reuid="$uid" --regid="$uid" --clear-groups \
    env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$(home "$uid")" XDG_RUNTIME_DIR="$(home "$uid")/run" \
    QT_QPA_PLATFORM=offscreen timeout 60 "$@"
}
# wait_line FILE TEXT: until the file holds that line, at most 20 s.
wait_line() {
  for _ in $(seq 200); do
    grep -qx "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# wait_pid PID: its exit status, or 124 when it is still running after 20 s.
wait_pid() {
  for _ in $(seq 200); do
    kill -0 "$1" 2>/dev/null || { wait "$1" && return 0 || return $?; }
    sleep 0.1
  done
  return 124
}

# 1. The state lands in the user's data folder; received files default to
#    the user's download folder; nothing is written next to the program.
out=$(as $userA "$bin/dizaruz" "$bin" start) || bad "first start failed: $out"
hA=$(home $userA)
[ "$out" = "started"$'\n'"folder=$hA/.local/share/Dizaruz/"$'\n'"receive=$hA/Downloads/" ] || bad "first start said: $out"
for f in Dizaruz.ini '~ListFile_reciv.txt'; do
  [ -f "$hA/.local/share/Dizaruz/$f" ] || bad "$f is not in the user's folder"
  [ "$(stat -c %u "$hA/.local/share/Dizaruz/$f" 2>/dev/null)" = $userA ] || bad "$f does not belong to the user"
done
grep -q "^SubDir_for_Reciv=$hA/Downloads/"$'\r'"$" "$hA/.local/share/Dizaruz/Dizaruz.ini" \
  || bad "INI: $(cat "$hA/.local/share/Dizaruz/Dizaruz.ini")"
[ -d "$hA/Downloads" ] || bad "the download folder was not made"
[ "$(ls -A "$bin")" = dizaruz ] || bad "written next to the program: $(ls -A "$bin")"

# 2. A second start of the same user: forwarded, status 0 at once; the first
#    copy brings its window forward. Another user's copy, and a copy outside
#    the install prefix, run on their own meanwhile.
as $userA "$bin/dizaruz" "$bin" serve > "$tmp/first.out" 2>"$tmp/first.err" &
first=$!
pids+=("$first")
wait_line "$tmp/first.out" ready || bad "the first copy did not start: $(cat "$tmp/first.err")"
out=$(as $userB "$bin/dizaruz" "$bin" start) || bad "another user's start failed"
[ "$(echo "$out" | head -1)" = started ] || bad "another user's copy did not run: $out"
out=$(as $userA "$bin/dizaruz" "$tmp/elsewhere/bin" start) || bad "a portable copy failed"
[ "$(echo "$out" | sed -n 2p)" = "folder=$bin/" ] || bad "a portable copy did not run in its own folder: $out"
started=$(date +%s%N)
out=$(as $userA "$bin/dizaruz" "$bin" start) && status=0 || status=$?
took=$(( ($(date +%s%N) - started) / 1000000 ))
[ "$status" -eq 0 ] || bad "the second start ended with $status"
[ -z "$out" ] || bad "the second start ran: $out"
[ "$took" -lt 5000 ] || bad "the second start took $took ms"
wait_pid "$first" && status=0 || status=$?
[ "$status" -eq 0 ] || bad "the first copy ended with $status"
[ "$(cat "$tmp/first.out")" = "ready"$'\n'"raised" ] || bad "the first copy said: $(cat "$tmp/first.out")"

# 3. A start while the running copy is closing: it is not swallowed; it runs
#    once the closing copy is gone.
as $userA "$bin/dizaruz" "$bin" linger > "$tmp/closing.out" 2>"$tmp/closing.err" &
closing=$!
pids+=("$closing")
wait_line "$tmp/closing.out" closing || bad "the closing copy did not close: $(cat "$tmp/closing.err")"
out=$(as $userA "$bin/dizaruz" "$bin" start) && status=0 || status=$?
[ "$status" -eq 0 ] || bad "the start during the close ended with $status"
[ "$(echo "$out" | head -1)" = started ] || bad "the start during the close did not run: $out"
kill -0 "$closing" 2>/dev/null && bad "the start ran while the closing copy still held its place"
wait_pid "$closing" && status=0 || status=$?
[ "$status" -eq 0 ] || bad "the closing copy ended with $status"
grep -q raised "$tmp/closing.out" && bad "the closing copy took the request"

[ "$fail" -eq 0 ] && echo "installed copy: ok"
exit "$fail"
