#!/usr/bin/env bash
# Discovery between two hosts (network namespaces), each with its own system
# bus and Avahi daemon, and a headless copy (discovery_probe) per host:
# no bus and no daemon are said, a daemon started later is used without a
# restart, each copy lists the other and not itself, hostile and duplicate
# services, a name taken by another computer, a copy that closes or is
# killed disappears, and a daemon that stops and comes back.
set -u
probe=$1
source "$(dirname "$0")/avahi_ns.sh"
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.avahi.log; do echo "== $f"; cat "$f"; done
  exit 1
}
declare -A probe_pid
run_probe() { # NS NAME OUT [ARGS...]
  local ns=$1 name=$2 out=$3; shift 3
  # Every step execs the next, so the job's pid is the probe's.
  (exec ip netns exec "$ns" unshare --uts sh -c 'hostname "$0"; exec "$@"' "$name" \
    env DBUS_SYSTEM_BUS_ADDRESS="$(bus_of "$ns")" "$probe" "$@") >> "$work/$out" 2>&1 &
  probe_pid[$out]=$!
}
expect() { wait_for "$work/$1" "$2" "${3:-10}" || fail "$1 never said /$2/"; }
# Lines of OUT from the Nth on, after something happened.
mark() { wc -l < "$work/$1"; }
expect_after() { # OUT LINE REGEX
  local out=$1 from=$2 regex=$3 i
  for i in $(seq 200); do
    tail -n +"$((from + 1))" "$work/$out" | grep -Eq -- "$regex" && return 0
    sleep 0.05
  done
  fail "$out never said /$regex/ after line $from"
}

# No system bus at all: the copy starts and says so.
DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/none.bus" "$probe" --name lonely > "$work/nobus.out" 2>&1 &
probe_pid[nobus.out]=$!
expect nobus.out '^state nobus$'
stop_pid "${probe_pid[nobus.out]}"
expect nobus.out '^bye$' 1

# A bus without a daemon: said, and the daemon started later is used.
run_probe "$alpha" alpha a.out
expect a.out '^state nodaemon$'
start_avahi "$alpha"
start_avahi "$beta"
expect a.out '^state resumed$'
expect a.out '^published alpha$'
run_probe "$beta" beta b.out
expect b.out '^state running$'

# Each lists the other, at its own address, and not itself.
expect a.out '^found beta 10\.213\.0\.2$'
expect b.out '^found alpha 10\.213\.0\.1$'
expect a.out '^service alpha$' # its own service was resolved, and left out
! grep -q '^found alpha' "$work/a.out" || fail "alpha lists itself"
! grep -q '^found beta' "$work/b.out" || fail "beta lists itself"

# Anyone may publish anything: hostile TXT records are left out, a service
# without a name shows its instance, one name at two addresses is marked,
# and two services of one name at one address are one row.
long=$(printf 'x%.0s' $(seq 100))
run_probe "$beta" beta raw.out --raw \
  $'ctl|name=ev\x01il|proto=1' "long|name=$long" $'utf|name=\xff\xfe' 'empty|name=' \
  'noname|proto=1' 'twin-1|name=twin' 'twin-2|name=twin'
run_probe "$alpha" alpha raw2.out --raw 'twin-3|name=twin'
expect raw.out '^raw published$'
expect raw2.out '^raw published$'
for instance in ctl long utf empty noname twin-1 twin-2 twin-3; do expect a.out "^service $instance\$"; done
expect a.out '^found noname 10\.213\.0\.2$'
expect a.out '^found twin 10\.213\.0\.2 duplicate$'
expect a.out '^found twin 10\.213\.0\.1 duplicate$'
expect b.out '^found twin 10\.213\.0\.1 duplicate$'
listed=$(grep '^found ' "$work/a.out" | cut -d' ' -f2 | sort -u | tr '\n' ' ')
[ "$listed" = "beta noname twin " ] || fail "alpha lists more than beta, noname and twin: $listed"
at=$(mark a.out)
stop_pid "${probe_pid[raw.out]}"
expect_after a.out "$at" '^lost twin 10\.213\.0\.2$'
expect_after a.out "$at" '^lost noname '
stop_pid "${probe_pid[raw2.out]}"
expect_after a.out "$at" '^lost twin 10\.213\.0\.1$'

# A second computer under alpha's name: its daemon finds the name taken and
# the copy takes the daemon's next one; alpha lists it under the TXT name.
at=$(mark a.out)
run_probe "$beta" beta clash.out --name alpha
expect clash.out '^published alpha #2$'
expect_after a.out "$at" '^found alpha 10\.213\.0\.2$'
stop_pid "${probe_pid[clash.out]}"
expect_after a.out "$at" '^lost alpha 10\.213\.0\.2$'

# A copy that closes, and one that is killed, disappear.
at=$(mark a.out)
stop_pid "${probe_pid[b.out]}"
expect b.out '^bye$' 5
expect_after a.out "$at" '^lost beta 10\.213\.0\.2$'
at=$(mark a.out)
run_probe "$beta" beta b2.out
expect_after a.out "$at" '^found beta 10\.213\.0\.2$'
at=$(mark a.out)
{ kill -9 "${probe_pid[b2.out]}"; wait "${probe_pid[b2.out]}"; } 2> /dev/null
expect_after a.out "$at" '^lost beta 10\.213\.0\.2$'

# The daemon stops under a running copy, and comes back: discovery resumes
# and this copy is published again, without a restart.
at=$(mark a.out)
run_probe "$beta" beta b3.out
expect b3.out '^found alpha 10\.213\.0\.1$'
expect_after a.out "$at" '^found beta 10\.213\.0\.2$'
at=$(mark a.out)
bt=$(mark b3.out)
stop_avahi "$alpha"
expect_after a.out "$at" '^state stopped$'
expect_after a.out "$at" '^lost beta '
expect_after b3.out "$bt" '^lost alpha '
start_avahi "$alpha"
expect_after a.out "$at" '^state resumed$'
expect_after a.out "$at" '^published alpha$'
expect_after a.out "$at" '^found beta 10\.213\.0\.2$'
expect_after b3.out "$bt" '^found alpha 10\.213\.0\.1$'
echo "discovery: no bus and no daemon said, daemon started later used, each lists the other and not itself," \
     "hostile and duplicate services, a name collision, closed and killed copies removed, a stopped daemon resumed"
