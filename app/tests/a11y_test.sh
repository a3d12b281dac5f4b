#!/usr/bin/env bash
# The window as a screen reader sees it: a real window on Xvfb, a private
# session bus and accessibility bus, and a11y_walk.py walking it in English
# and in Russian. Everything runs in namespaces of its own (processes,
# mounts, network), so whatever it starts ends with it, nothing it starts
# meets another test's display or bus, and the window's servers listen in
# a network of their own.
#
#   a11y_test.sh HARNESS
set -u
harness=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$harness" ] || { echo "SKIP: $harness is not built"; exit 77; }
for tool in Xvfb dbus-daemon dbus-send unshare "$python" "$launcher"; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
"$python" -c 'import pyatspi' 2> /dev/null || { echo "SKIP: python3-pyatspi is missing"; exit 77; }

if [ -z "${DZ_A11Y_INSIDE:-}" ]; then
  # The kernel ends every process in the namespace when this script's
  # second self (its first process) ends; timeout bounds the whole.
  DZ_A11Y_INSIDE=1 exec timeout -k 5 150 unshare --pid --fork --kill-child --mount --net bash "$0" "$@"
fi

# A /tmp of its own: Xvfb's lock and socket, the buses, the window's folder.
mount -t tmpfs tmpfs /tmp || exit 1
ip link set lo up 2> /dev/null
work=$(mktemp -d)
export HOME=$work/home XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=0
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
stop_all() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null; done
}
trap stop_all EXIT
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do echo "== $f"; cat "$f"; done
  exit 1
}
wait_for() { # SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds
  local tries=$(($1 * 10)); shift
  for _ in $(seq "$tries"); do "$@" > /dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

Xvfb :0 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 10 test -S /tmp/.X11-unix/X0 || fail "Xvfb did not start"
export DISPLAY=:0

dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/session.bus" > "$work/session.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/session.bus"
wait_for 10 test -S "$work/session.bus" || fail "the session bus did not start"
"$launcher" --launch-immediately > "$work/launcher.log" 2>&1 &
pids+=($!)
wait_for 10 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress ||
  fail "the accessibility bus did not start"

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
status=0
for language in en ru; do
  mkdir -p "$work/$language"
  timeout -k 5 60 "$python" "$here/a11y_walk.py" "$harness" "$work/$language/" "$language" || status=1
done
exit $status
