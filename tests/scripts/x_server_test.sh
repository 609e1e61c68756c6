#!/usr/bin/env bash
# The tests' own X servers: each comes up on a number no other server uses, a number stays taken
# until its server has ended (not only until it stopped answering), and servers started and
# stopped side by side on a busy machine answer every client for as long as they run.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/x_server.sh
source "$repo/tests/support/x_server.sh"
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# A server that is not ours sits on the first number we would try: ours goes past it.
first_free=100
while ! flock -n "$x_server_locks/$first_free" true 2>/dev/null &&
  [ -e "$x_server_locks/$first_free" ]; do
  first_free=$((first_free + 1))
done
Xvfb ":$first_free" -screen 0 320x240x24 -nolisten tcp 2>/dev/null &
foreign=$!
trap 'kill "$foreign" 2>/dev/null' EXIT
for _ in $(seq 100); do xdpyinfo -display ":$first_free" >/dev/null 2>&1 && break; sleep 0.1; done
mkdir -p "$x_server_locks"
if start_x_server 640x480; then
  [ "$DISPLAY" != ":$first_free" ] || fail "started on the number a foreign server holds"
  number=${DISPLAY#:}
  kill -STOP "$x_server_pid" # a server that no longer answers still holds its number
  flock -n "$x_server_locks/$number" true && fail "the number of a running server is free"
  kill -CONT "$x_server_pid"
  stop_x_server
  flock -n "$x_server_locks/$number" true || fail "the number of an ended server stays taken"
else
  fail "no server came up beside a foreign one"
fi
kill "$foreign"
wait "$foreign" 2>/dev/null

# Side by side on a busy machine: every server answers a while after it came up, and to clients
# that come one right after another (each leaving it without clients).
cycles() {
  for _ in $(seq 15); do
    start_x_server 320x240 || { echo "no server"; continue; }
    sleep "0.$((RANDOM % 4))"
    for _ in $(seq 10); do
      xdpyinfo >/dev/null 2>&1 || { echo "$DISPLAY stopped answering while its server ran"; break; }
    done
    stop_x_server
  done
}
busy=()
for _ in $(seq "$(nproc)"); do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null' EXIT
outcomes=$(for _ in $(seq 12); do cycles & done; wait)
kill "${busy[@]}"
[ -z "$outcomes" ] || fail "$outcomes"
exit $failed
