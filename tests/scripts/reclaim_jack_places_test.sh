#!/usr/bin/env bash
# A JACK server killed outright keeps its place in JACK's machine-wide table of servers; the
# reclaim gives the place back (JACK's own tools then no longer find the name in the table) and
# leaves a running server alone.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
registry=/dev/shm/jack-shm-registry
killed="sntreclaim$$"
running="sntkept$$"
user=$(id -u)
listening() {
  grep -q " /dev/shm/jack_$1_${user}_0$" /proc/net/unix
}
registered() {
  strings "$registry" | grep -qx "jack-$user:$1:"
}
serve() {
  exec jackd --no-realtime -n "$1" -d dummy -r 48000 -p 256 >/dev/null 2>&1
}
wait_answering() {
  for _ in $(seq 100); do
    jack_lsp -s "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "the server $1 did not start" >&2
  return 1
}

serve "$running" &
kept_pid=$!
trap 'kill "$kept_pid" 2>/dev/null; wait "$kept_pid" 2>/dev/null || true' EXIT
wait_answering "$running"
serve "$killed" &
doomed_pid=$!
wait_answering "$killed"
kill -9 "$doomed_pid"
wait "$doomed_pid" 2>/dev/null || true
if ! registered "$killed"; then
  echo "a killed server left the table; JACK's table works otherwise than this test knows" >&2
  exit 1
fi

"$repo/scripts/reclaim-jack-places.sh"
if registered "$killed"; then
  echo "the killed server's place was not taken back" >&2
  exit 1
fi
if ! listening "$running" || ! registered "$running"; then
  echo "the running server was disturbed" >&2
  exit 1
fi
