#!/usr/bin/env bash
# Sourced by the two-host tests: two computers on one machine, network
# namespaces joined by a veth pair, "alpha" at 10.213.0.1 and "beta" at
# 10.213.0.2, each resolving the other's name from its own hosts file (with
# NETNS_NAMES=none set before sourcing, neither resolves any name but its
# own, as on a home network without a local DNS).
# After sourcing: $alpha and $beta name the namespaces, $work is a scratch
# folder, `on NS NAME CMD...` runs a command there under the host name NAME.
# Everything is removed on exit. Exits 77 (skip) without root.

[ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && command -v unshare >/dev/null || exit 77

tag=$$
alpha=dz-a-$tag beta=dz-b-$tag
work=$(mktemp -d)
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null
  ip netns del "$alpha" 2>/dev/null
  ip netns del "$beta" 2>/dev/null
  rm -rf "/etc/netns/$alpha" "/etc/netns/$beta" "$work"
}
trap cleanup EXIT

ip netns add "$alpha" && ip netns add "$beta" || exit 77
ip link add "va$tag" type veth peer name "vb$tag" || exit 77
ip link set "va$tag" netns "$alpha"
ip link set "vb$tag" netns "$beta"
ip -n "$alpha" addr add 10.213.0.1/24 dev "va$tag"
ip -n "$beta" addr add 10.213.0.2/24 dev "vb$tag"
for ns in "$alpha" "$beta"; do
  ip -n "$ns" link set lo up
  mkdir -p "/etc/netns/$ns"
  if [ "${NETNS_NAMES:-}" = none ]; then
    printf '127.0.0.1 localhost\n' > "/etc/netns/$ns/hosts"
  else
    printf '127.0.0.1 localhost\n10.213.0.1 alpha\n10.213.0.2 beta\n' > "/etc/netns/$ns/hosts"
  fi
  # Names not in the hosts file are asked of nobody outside.
  printf 'nameserver 127.0.0.1\n' > "/etc/netns/$ns/resolv.conf"
done
ip -n "$alpha" link set "va$tag" up
ip -n "$beta" link set "vb$tag" up

# Runs a command in a namespace under its own host name.
on() { local ns=$1 name=$2; shift 2; ip netns exec "$ns" unshare --uts sh -c 'hostname "$0"; exec "$@"' "$name" "$@"; }

