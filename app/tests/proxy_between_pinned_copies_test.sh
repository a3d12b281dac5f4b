#!/usr/bin/env bash
# Two copies pin each other over their direct link; then a man in the middle
# in a third namespace ("gamma"), with a key of its own, stands between
# them: alpha's name for beta now leads to gamma, where one half of the
# proxy answers as beta, and the other half speaks to beta as alpha (over
# TLS, trusting beta's real key, which it copied). Both halves show the
# proxy's key: alpha refuses it before anything goes out, beta refuses what
# claims alpha's name, and both users are told.
set -u
driver=$1
source "$(dirname "$0")/../../services/tests/netns.sh"
fail() { echo "FAIL: $*"; exit 1; }
unset DISPLAY
export QT_QPA_PLATFORM=offscreen

gamma=dz-g-$tag
cleanup_gamma() {
  cleanup
  ip netns del "$gamma" 2>/dev/null
  rm -rf "/etc/netns/$gamma"
}
trap cleanup_gamma EXIT

# gamma between them: 10.213.2.3 towards alpha, 10.213.1.3 towards beta.
ip netns add "$gamma" || exit 77
ip link add "ga$tag" type veth peer name "ag$tag" || exit 77
ip link add "gb$tag" type veth peer name "bg$tag" || exit 77
ip link set "ga$tag" netns "$gamma"; ip link set "ag$tag" netns "$alpha"
ip link set "gb$tag" netns "$gamma"; ip link set "bg$tag" netns "$beta"
ip -n "$gamma" addr add 10.213.2.3/24 dev "ga$tag"
ip -n "$alpha" addr add 10.213.2.1/24 dev "ag$tag"
ip -n "$gamma" addr add 10.213.1.3/24 dev "gb$tag"
ip -n "$beta" addr add 10.213.1.2/24 dev "bg$tag"
for link in "$gamma ga$tag" "$gamma gb$tag" "$alpha ag$tag" "$beta bg$tag" "$gamma lo"; do
  set -- $link
  ip -n "$1" link set "$2" up
done
mkdir -p "/etc/netns/$gamma"
printf '127.0.0.1 localhost\n10.213.1.2 beta\n' > "/etc/netns/$gamma/hosts"
printf 'nameserver 127.0.0.1\n' > "/etc/netns/$gamma/resolv.conf"

# Until something in namespace $1 listens on the message port (bounded).
listening() {
  for _ in $(seq 200); do
    ip netns exec "$1" ss -Hltn 'sport = :574' | grep -q . && return 0
    sleep 0.05
  done
  return 1
}

mkdir -p "$work/a" "$work/b" "$work/b-in" "$work/as-beta" "$work/as-alpha"

# The direct meeting: both pin the other's key.
on "$beta" beta "$driver" "$work/b/" folder "$work/b-in" wait-peer wait-encrypted wait-bye \
  > "$work/beta1.out" 2> "$work/beta1.err" &
beta_pid=$!
listening "$beta" || fail "beta does not listen"
on "$alpha" alpha "$driver" "$work/a/" connect beta wait-peer wait-encrypted wait-ready close \
  > "$work/alpha1.out" 2> "$work/alpha1.err" || fail "alpha: $(cat "$work/alpha1.out" "$work/alpha1.err")"
wait $beta_pid || fail "beta: $(cat "$work/beta1.out" "$work/beta1.err")"
grep -q '"BETA"' "$work/a/Dizaruz-settings.json" || fail "alpha pinned nothing"
grep -q '"ALPHA"' "$work/b/Dizaruz-settings.json" || fail "beta pinned nothing"
pins() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["pins"])' "$1"; }
pins_b=$(pins "$work/b/Dizaruz-settings.json")

# The proxy: its half towards beta knows beta's real key (alpha's pins),
# but has only a key of its own to show.
cp "$work/a/Dizaruz-settings.json" "$work/as-alpha/"
printf '127.0.0.1 localhost\n10.213.2.3 beta\n' > "/etc/netns/$alpha/hosts"

on "$beta" beta "$driver" "$work/b/" timeout 30 wait-notice > "$work/beta2.out" 2> "$work/beta2.err" &
beta_pid=$!
# One half at a time: both would need gamma's ports.
on "$gamma" beta "$driver" "$work/as-beta/" timeout 60 wait-peer > "$work/proxy-a.out" 2>&1 &
proxy=$!
listening "$beta" || fail "beta does not listen again"
listening "$gamma" || fail "the proxy does not listen"
on "$alpha" alpha "$driver" "$work/a/" timeout 30 connect beta wait-notice > "$work/alpha2.out" 2> "$work/alpha2.err" ||
  fail "alpha was not told: $(cat "$work/alpha2.out" "$work/alpha2.err")"
kill "$proxy"
wait "$proxy" 2>/dev/null
for _ in $(seq 200); do
  ip netns exec "$gamma" ss -Hltn 'sport = :574' | grep -q . || break
  sleep 0.05
done
on "$gamma" alpha "$driver" "$work/as-alpha/" timeout 60 connect beta wait-peer > "$work/proxy-b.out" 2>&1 &
proxy=$!
wait $beta_pid || fail "beta was not told: $(cat "$work/beta2.out" "$work/beta2.err" "$work/proxy-b.out")"
kill "$proxy"
wait "$proxy" 2>/dev/null

grep -q '^message: .*certificate refused\|^notice: ' "$work/alpha2.err" || fail "alpha's notice: $(cat "$work/alpha2.err")"
grep -q '^notice: .*alpha' "$work/beta2.err" || fail "beta's notice: $(cat "$work/beta2.err")"
# Neither took the proxy for its peer, and beta kept alpha's real key.
grep -q ' ip= ' "$work/alpha2.out" || fail "alpha took the proxy: $(cat "$work/alpha2.out")"
grep -q ' ip= ' "$work/beta2.out" || fail "beta took the proxy: $(cat "$work/beta2.out")"
[ "$(pins "$work/b/Dizaruz-settings.json")" = "$pins_b" ] || fail "beta's pins changed"
echo "a proxy with its own key between pinned copies: refused and told on both sides"
