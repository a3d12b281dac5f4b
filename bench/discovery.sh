#!/usr/bin/env bash
# How soon one copy sees another come and go through the Avahi daemons, on
# the two hosts of desktop/tests/avahi_ns.sh (each with its own bus and
# daemon): from a copy's start to its listing on the other host, and from
# its close (SIGTERM, the service withdrawn) and its kill (SIGKILL, the
# daemon withdraws for it) to its removal there. Goal: 2 s each. Beside
# them, the same run's yardstick: from the start to the copy's own daemon
# establishing its service (its name probed on the link), which no listing
# can beat. A removal cannot take less than about a second: a receiver keeps
# a record for one second after its goodbye. Prints the median and the
# worst of ROUNDS. Needs root.
# Usage: bench/discovery.sh BUILD_DIR [ROUNDS] (default 5)
set -u
probe=$(realpath "$1")/desktop/tests/discovery_probe
rounds=${2:-5}
source "$(dirname "$0")/../desktop/tests/avahi_ns.sh"
now() { date +%s%3N; }
run_probe() { # NS NAME OUT: the job's pid is the probe's
  (exec ip netns exec "$1" unshare --uts sh -c 'hostname "$0"; exec "$@"' "$2" \
    env DBUS_SYSTEM_BUS_ADDRESS="$(bus_of "$1")" "$probe" --stamp) > "$work/$3" 2>&1 &
}
# The stamp of the first line of FILE after line FROM matching REGEX (10 s at most).
stamp_of() {
  local file=$1 from=$2 regex=$3 line
  for _ in $(seq 200); do
    line=$(tail -n +"$((from + 1))" "$file" | grep -E -m1 -- "^[0-9]+ $regex")
    [ -n "$line" ] && { echo "${line%% *}"; return 0; }
    sleep 0.05
  done
  echo "no /$regex/ in $file" >&2
  exit 1
}
stats() { # name goal_ms values... -> median and worst
  local name=$1 goal=$2; shift 2
  local sorted; sorted=$(printf '%s\n' "$@" | sort -n)
  local median; median=$(echo "$sorted" | sed -n "$(( ($# + 1) / 2 ))p")
  printf '%-44s median %5d ms  worst %5d ms  %s\n' "$name" "$median" "$(echo "$sorted" | tail -n 1)" "$goal"
}

start_avahi "$alpha"
start_avahi "$beta"
run_probe "$alpha" alpha a.out
stamp_of "$work/a.out" 0 'published alpha' > /dev/null

own=() listed=() closed=() killed=()
for r in $(seq "$rounds"); do
  for how in close kill; do
    from=$(wc -l < "$work/a.out")
    t0=$(now)
    run_probe "$beta" beta b.out
    pid=$!
    t_own=$(stamp_of "$work/b.out" 0 'published beta')
    t_list=$(stamp_of "$work/a.out" "$from" 'found beta ')
    own+=($((t_own - t0)))
    listed+=($((t_list - t0)))
    from=$(wc -l < "$work/a.out")
    t0=$(now)
    if [ "$how" = close ]; then kill "$pid"; else kill -9 "$pid"; fi
    t_gone=$(stamp_of "$work/a.out" "$from" 'lost beta ')
    wait "$pid" 2> /dev/null
    if [ "$how" = close ]; then closed+=($((t_gone - t0))); else killed+=($((t_gone - t0))); fi
  done
done
echo "discovery between two hosts, $rounds rounds (each of close and kill):"
stats "start -> own service established" "(yardstick)" "${own[@]}"
stats "start -> listed on the other host" "(goal 2000 ms)" "${listed[@]}"
stats "close -> removed on the other host" "(goal 2000 ms)" "${closed[@]}"
stats "kill -> removed on the other host" "(goal 2000 ms)" "${killed[@]}"
