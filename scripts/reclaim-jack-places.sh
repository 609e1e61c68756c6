#!/usr/bin/env bash
# JACK keeps a machine-wide table of eight servers. A server that ended without leaving it (one
# that was killed, or that a client's broken pipe ended during its shutdown) keeps its place until
# a server of the same name takes it back; an aborted test run can so leave the next one without
# room. Takes back the place of every server in the table that no longer listens, by starting and
# stopping a server of its name.
set -euo pipefail
registry=/dev/shm/jack-shm-registry
[ -f "$registry" ] || exit 0
user=$(id -u)

# True while a JACK server of that name listens on its socket.
listening() {
  grep -q " /dev/shm/jack_$1_${user}_0$" /proc/net/unix
}

for name in $(strings "$registry" | sed -n "s/^jack-$user:\\(.*\\):$/\\1/p"); do
  listening "$name" && continue
  jackd --no-realtime -n "$name" -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
  pid=$!
  # Stopped only once it answers a client: one stopped while it starts may leave again without
  # giving its place back.
  for _ in $(seq 50); do
    jack_lsp -s "$name" >/dev/null 2>&1 && break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done
