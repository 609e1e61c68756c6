# Sourced by the scripts that give a program an X server of its own.
# start_x_server WIDTHxHEIGHT starts Xvfb with one screen of that size on a display number of its
# own, waits until it answers (a busy machine may take many seconds) and exports DISPLAY; false
# when it never came up.
# stop_x_server stops it; callers run it from their EXIT trap.
#
# Servers that choose a free number themselves (-displayfd) race with one that is shutting down:
# a new server can take the number while the old one still removes its sockets, and is then
# unreachable. So each number is taken under a lock that only the server holds (it inherits the
# descriptor), which is released when that server has fully ended, and the server is told its
# number. A number some other X server uses makes ours exit at once; the next number is tried.
# The server does not reset when its last client leaves: while it resets it refuses connections,
# and a program started right after another (or after the check that it answers) found no server.
x_server_locks=${TMPDIR:-/tmp}/snt-x-displays

start_x_server() {
  mkdir -p "$x_server_locks"
  local number lock
  for number in $(seq 100 999); do
    exec {lock}>"$x_server_locks/$number"
    if flock -n "$lock"; then
      x_server_ready=$(mktemp)
      Xvfb ":$number" -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset \
        3>"$x_server_ready" 2>/dev/null &
      x_server_pid=$!
      exec {lock}>&-
      x_server_answers ":$number" && return 0
      stop_x_server
    else
      exec {lock}>&-
    fi
  done
  echo "$0: the X server did not come up" >&2
  return 1
}

# True once our server on the given display answers (it writes its number when it listens, so
# an answer from another server on that number is not taken for its own); false when it ended
# without answering or never answered within a minute.
x_server_answers() {
  export DISPLAY=$1
  for _ in $(seq 600); do
    kill -0 "$x_server_pid" 2>/dev/null || return 1
    [ -s "$x_server_ready" ] && xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

stop_x_server() {
  kill "$x_server_pid" 2>/dev/null
  wait "$x_server_pid" 2>/dev/null
  rm -f "$x_server_ready"
}
