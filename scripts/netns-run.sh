#!/usr/bin/env bash
# Runs a command in a network namespace of its own, so that what it sends (multicast and
# broadcast included) never reaches the machine's network:
#   scripts/netns-run.sh [--peer ADDRESS]... COMMAND...
# Inside: lo is up, and a veth pair leads from "v0" (169.254.77.1/24) to a child namespace whose
# "v1" holds the peer addresses (169.254.77.2/24 unless --peer names others; all in that /24),
# where peers run through nsenter. Every destination, multicast and 255.255.255.255 included,
# goes over the pair on both sides. The command finds the child through
#   SNT_NETNS_CHILD   the pid whose network namespace is the child's (/proc/PID/ns/net)
#   SNT_NETNS_IF      the local end ("v0"), SNT_NETNS_ADDR its address
#   SNT_NETNS_PEER    the child's first address
# Exits 77 (a skip) when the kernel refuses network namespaces, or 1 when CI=true.
set -euo pipefail

if [ -z "${SNT_NETNS_INSIDE:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    unshare_args=(--net)
  else
    unshare_args=(--user --map-root-user --net)
  fi
  if ! unshare "${unshare_args[@]}" true 2>/dev/null; then
    echo "netns-run: this machine refuses network namespaces (unshare ${unshare_args[*]})" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
  SNT_NETNS_INSIDE=1 exec unshare "${unshare_args[@]}" "$0" "$@"
fi

peers=()
while [ "${1:-}" = --peer ]; do
  peers+=("$2")
  shift 2
done
[ ${#peers[@]} -gt 0 ] || peers=(169.254.77.2)

ip link set lo up
unshare --net sleep infinity &
child=$!
trap 'kill "$child" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ "$(readlink "/proc/$child/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.01
done
in_child() { nsenter --net="/proc/$child/ns/net" "$@"; }

# Fixed hardware addresses, so the PTP clock identities they give are known to the tests.
ip link add v0 address 02:00:00:4d:00:01 type veth peer name v1 address 02:00:00:4d:00:02
ip link set v1 netns "$child"
ip addr add 169.254.77.1/24 brd + dev v0
ip link set v0 up
ip route add default dev v0
in_child ip link set lo up
for peer in "${peers[@]}"; do
  in_child ip addr add "$peer/24" brd + dev v1
done
in_child ip link set v1 up
in_child ip route add default dev v1
# The pair's link comes up asynchronously; wait until both ends carry traffic.
for _ in $(seq 100); do
  ip -o link show v0 | grep -q 'state UP' && in_child ip -o link show v1 | grep -q 'state UP' \
    && break
  sleep 0.05
done

export SNT_NETNS_CHILD=$child SNT_NETNS_IF=v0 SNT_NETNS_ADDR=169.254.77.1 SNT_NETNS_PEER=${peers[0]}
"$@"
