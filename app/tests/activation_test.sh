#!/usr/bin/env bash
# Two copies of the program on two hosts (network namespaces), each with its
# own system bus and Avahi daemon: alpha chooses beta from its list of
# computers, once, and the two are introduced (beta's remote box shows
# alpha, its chat and send enabled). Neither name resolves on either host:
# alpha reaches beta at the address discovery resolved.
set -u
driver=$1
source "$(dirname "$0")/../../desktop/tests/avahi_ns.sh"
declare -A driver_pid
stop_drivers() {
  local pid
  for pid in "${driver_pid[@]}"; do stop_pid "$pid"; done
  stop_all
}
trap stop_drivers EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out; do echo "== $f"; cat "$f"; done
  exit 1
}
run_driver() { # NS NAME STEP...
  local ns=$1 name=$2; shift 2
  mkdir -p "$work/$name"
  (exec ip netns exec "$ns" unshare --uts sh -c 'hostname "$0"; exec "$@"' "$name" \
    env -u DISPLAY QT_QPA_PLATFORM=offscreen DBUS_SYSTEM_BUS_ADDRESS="$(bus_of "$ns")" \
    "$driver" "$work/$name/" timeout 30 "$@") > "$work/$name.out" 2>&1 &
  driver_pid[$name]=$!
}
start_avahi "$alpha"
start_avahi "$beta"
run_driver "$beta" beta wait-ready pause 300
run_driver "$alpha" alpha activate beta wait-ready pause 300
for name in alpha beta; do
  wait "${driver_pid[$name]}" || fail "$name's driver failed"
  unset "driver_pid[$name]"
done
grep -q '^remote=alpha ip=10\.213\.0\.1 msg=1 send=1$' "$work/beta.out" || fail "beta was not introduced to alpha"
grep -q '^remote=beta ip=10\.213\.0\.2 msg=1 send=1$' "$work/alpha.out" || fail "alpha is not connected to beta"
tr -d '\r' < "$work/alpha/Dizaruz.ini" | grep -q '^ComputerName=beta$' || fail "alpha's INI does not keep beta's name"
echo "activation: alpha chose beta from its list and the two were introduced"
