#!/usr/bin/env bash
# Runs a test program inside a private network namespace joined by one veth link to a second
# private namespace, where the test starts the simulated processor. Processor discovery sweeps
# every /24 network and broadcasts: here it only ever reaches these two namespaces.
#   test side: v0 169.254.77.1/24        processor side: v1 169.254.77.9/24 and .100/24
# The processor side is given to the test as SNT_PEER_NETNS (for nsenter --net=...). Where no
# namespace can be made, the program runs with SNT_NO_NETNS=1 and decides what that means.
set -euo pipefail

if [ -z "${SNT_IN_NETNS:-}" ]; then
  if ! unshare --net true 2>/dev/null; then
    exec env SNT_NO_NETNS=1 "$@"
  fi
  exec unshare --net env SNT_IN_NETNS=1 "$0" "$@"
fi

ip link set lo up
unshare --net sleep infinity &
holder=$!
trap 'kill "$holder"' EXIT
for _ in $(seq 100); do
  [ "$(readlink "/proc/$holder/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
  sleep 0.02
done
peer=(nsenter "--net=/proc/$holder/ns/net")

ip link add v0 type veth peer name v1
ip link set v1 netns "$holder"
ip addr add 169.254.77.1/24 brd + dev v0
ip link set v0 up
ip route add default dev v0 # 255.255.255.255 needs a way out
"${peer[@]}" ip link set lo up
"${peer[@]}" ip addr add 169.254.77.9/24 brd + dev v1
"${peer[@]}" ip addr add 169.254.77.100/24 brd + dev v1
"${peer[@]}" ip link set v1 up
"${peer[@]}" ip route add default dev v1

SNT_PEER_NETNS=/proc/$holder/ns/net "$@"
