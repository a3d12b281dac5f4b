#!/usr/bin/env bash
# Sourced by the discovery test and benchmark: the two hosts of
# services/tests/netns.sh ("alpha" 10.213.0.1 and "beta" 10.213.0.2), each
# with a system bus of its own (a private dbus-daemon on which root may own
# org.freedesktop.Avahi) and, on request, its own Avahi daemon, confined to
# its veth and run inside a mount namespace with a tmpfs over
# /run/avahi-daemon (its pid file and socket). Everything started here is
# stopped on exit, also on failure. Exits 77 (skip) without root or daemons.
#
# After sourcing: bus_of NS (the bus address for DBUS_SYSTEM_BUS_ADDRESS),
# start_avahi NS, stop_avahi NS, wait_for FILE REGEX SECONDS.

command -v dbus-daemon > /dev/null && command -v avahi-daemon > /dev/null ||
  { echo "SKIP: dbus-daemon or avahi-daemon is not installed"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/../../services/tests/netns.sh"

declare -A bus_pid avahi_pid iface
iface[$alpha]="va$tag"
iface[$beta]="vb$tag"
made_run_dir=
[ -d /run/avahi-daemon ] || { mkdir -p /run/avahi-daemon && made_run_dir=yes; }

stop_pid() { # PID: TERM, and KILL when it lingers
  local pid=$1
  kill "$pid" 2> /dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || return 0; sleep 0.1; done
  kill -9 "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
}
stop_all() {
  local pid
  for pid in "${avahi_pid[@]}" "${bus_pid[@]}"; do stop_pid "$pid"; done
  [ -n "$made_run_dir" ] && rmdir /run/avahi-daemon 2> /dev/null
  cleanup
}
trap stop_all EXIT

bus_of() { echo "unix:path=$work/$1.bus"; }

start_bus() {
  local ns=$1
  cat > "$work/$ns.bus.conf" << CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/$ns.bus</listen>
  <auth>EXTERNAL</auth>
  <policy user="root">
    <allow own="org.freedesktop.Avahi"/>
  </policy>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  ip netns exec "$ns" dbus-daemon --config-file="$work/$ns.bus.conf" --nofork --nopidfile \
    > "$work/$ns.bus.log" 2>&1 &
  bus_pid[$ns]=$!
  for _ in $(seq 100); do [ -S "$work/$ns.bus" ] && return 0; sleep 0.05; done
  echo "FAIL: the bus of $ns did not start: $(cat "$work/$ns.bus.log")"
  exit 1
}

# The daemon under the host name the namespace has, on its veth only.
start_avahi() {
  local ns=$1 name
  [ "$ns" = "$alpha" ] && name=alpha || name=beta
  cat > "$work/$ns.avahi.conf" << CONF
[server]
host-name=$name
use-ipv4=yes
use-ipv6=no
allow-interfaces=${iface[$ns]}
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
CONF
  ip netns exec "$ns" unshare -m sh -c \
    'mount -t tmpfs tmpfs /run/avahi-daemon && exec env DBUS_SYSTEM_BUS_ADDRESS="$0" avahi-daemon -f "$1" --no-drop-root --no-chroot --no-rlimits --no-proc-title' \
    "$(bus_of "$ns")" "$work/$ns.avahi.conf" >> "$work/$ns.avahi.log" 2>&1 &
  avahi_pid[$ns]=$!
}

stop_avahi() {
  local ns=$1
  stop_pid "${avahi_pid[$ns]}"
  unset "avahi_pid[$ns]"
}

# Waits (at most SECONDS) for a line of FILE matching REGEX.
wait_for() {
  local file=$1 regex=$2 seconds=$3 i
  for i in $(seq $((seconds * 20))); do
    grep -Eq -- "$regex" "$file" 2> /dev/null && return 0
    sleep 0.05
  done
  return 1
}

start_bus "$alpha"
start_bus "$beta"
