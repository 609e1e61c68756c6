#!/usr/bin/env bash
# The tests' own X servers: each comes up on a number no other server uses, a number stays taken
# until its server has ended (not only until it stopped answering), servers started and stopped
# side by side on a busy machine answer every client for as long as they run, and a display that
# takes connections without answering is passed over while it holds its number.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/x_server.sh
source "$repo/tests/support/x_server.sh"
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# Run by the last part inside namespaces of its own (see there), with the silent server copied to
# /tmp/silent_x_server.py. A server that takes connections and never answers, listening on its
# socket file alone as a server in another network namespace is seen: ours starts on another
# number while it holds its own, and leaves its socket alone. Then a server of ours that wrote its
# number but never answers: it is stopped and the next number tried while it would still hold.
silent_numbers() {
  local silent=/tmp/silent_x_server.py started holds=60
  /usr/bin/python3 "$silent" 100 "$holds" &
  local holder=$!
  for _ in $(seq 100); do [ -e /tmp/.X100-lock ] && break; sleep 0.1; done
  [ -e /tmp/.X100-lock ] || fail "the silent server did not start"
  started=$SECONDS
  if start_x_server 320x240; then
    [ "$DISPLAY" != :100 ] || fail "started on the number a silent server holds"
    stop_x_server
  else
    fail "no server came up beside a silent one"
  fi
  ((SECONDS - started < holds)) || fail "waited until the silent server let its number go"
  [ -S /tmp/.X11-unix/X100 ] || fail "the silent server's socket was taken away"
  kill "$holder"
  wait "$holder"

  mkdir /tmp/stand-ins
  # shellcheck disable=SC2016 # the stand-in's own arguments
  printf '#!/bin/sh\n[ "$1" = :100 ] && exec /usr/bin/python3 "%s" 100 %s 3\nexec "%s" "$@"\n' \
    "$silent" "$holds" "$(command -v Xvfb)" >/tmp/stand-ins/Xvfb
  chmod +x /tmp/stand-ins/Xvfb
  started=$SECONDS
  if PATH=/tmp/stand-ins:$PATH start_x_server 320x240; then
    [ "$DISPLAY" != :100 ] || fail "took a server that never answered for one that came up"
    stop_x_server
  else
    fail "no server came up after one that never answered"
  fi
  ((SECONDS - started < holds)) || fail "waited until the server that never answered let go"
}

# A server that is not ours sits on the first number we would try: ours goes past it.
foreign_server() {
  local first_free=100 shared_locks number
  while ! flock -n "$x_server_locks/$first_free" true 2>/dev/null &&
    [ -e "$x_server_locks/$first_free" ]; do
    first_free=$((first_free + 1))
  done
  Xvfb ":$first_free" -screen 0 320x240x24 -nolisten tcp 2>/dev/null &
  foreign=$!
  trap 'kill "$foreign" 2>/dev/null' EXIT
  for _ in $(seq 100); do x_display_held ":$first_free" && break; sleep 0.1; done
  # The numbers' locks of this part are its own: a test beside it may take a number the moment
  # our server lets it go, which would look as if ours still held it.
  shared_locks=$x_server_locks
  x_server_locks=$(mktemp -d)
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
  rm -r "$x_server_locks"
  x_server_locks=$shared_locks
}

# Side by side on a busy machine: every server answers a while after it came up, and to clients
# that come one right after another (each leaving it without clients).
cycles() {
  for _ in $(seq 15); do
    start_x_server 320x240 || { echo "no server"; continue; }
    sleep "0.$((RANDOM % 4))"
    for _ in $(seq 10); do
      x_display_probe "$DISPLAY" || { echo "$DISPLAY stopped answering while its server ran"; break; }
    done
    stop_x_server
  done
}
side_by_side() {
  local outcomes
  busy=()
  for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    busy+=($!)
  done
  trap 'kill "${busy[@]}" 2>/dev/null' EXIT
  outcomes=$(for _ in $(seq 12); do cycles & done; wait)
  kill "${busy[@]}"
  [ -z "$outcomes" ] || fail "$outcomes"
}

# Silent servers, in a mount and network namespace of its own with a /tmp of its own: there the
# first number tried is known, and a number held there meets no other test's server (X servers
# are found by socket files in /tmp and by abstract socket names, which belong to a network
# namespace). The clone may lie under /tmp, which that /tmp hides: the silent server goes in on
# standard input, opened before the mount.
silent_servers() {
  local namespaces=(--mount --net)
  [ "$(id -u)" -eq 0 ] || namespaces=(--user --map-root-user "${namespaces[@]}")
  if unshare "${namespaces[@]}" true 2>/dev/null; then
    env -u TMPDIR unshare "${namespaces[@]}" "$0" in-namespaces \
      <"$repo/tests/scripts/silent_x_server.py" || failed=1
  else
    echo "silent servers not tried: this machine refuses namespaces (unshare ${namespaces[*]})" >&2
    [ "${CI:-}" = true ] && exit 1
    ((failed)) || exit 77
  fi
}

# "silent" runs the last part alone.
case "${1:-}" in
  in-namespaces)
    mount -t tmpfs tmpfs /tmp || exit 1
    cat >/tmp/silent_x_server.py
    silent_numbers
    ;;
  silent) silent_servers ;;
  *)
    foreign_server
    side_by_side
    silent_servers
    ;;
esac
exit $failed
