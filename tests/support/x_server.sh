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
# Told its number, Xvfb does not read the number's lock file, and it replaces a socket file that
# another server listens on when it does not see that server's abstract socket (one in another
# network namespace), so a number on which something takes connections is passed over before ours
# starts. Every probe of a display is bounded: a display that takes the connection and never
# answers (a hung server, or another program on its socket) would hold the script for as long as
# it holds the number, so it counts as held and the next number is tried.
# The server does not reset when its last client leaves: while it resets it refuses connections,
# and a program started right after another (or after the check that it answers) found no server.
x_server_locks=${TMPDIR:-/tmp}/snt-x-displays
x_server_probe_seconds=5

start_x_server() {
  mkdir -p "$x_server_locks"
  local number lock
  for number in $(seq 100 999); do
    exec {lock}>"$x_server_locks/$number"
    if flock -n "$lock" && ! x_display_held ":$number"; then
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

# Asks the display $1 to describe itself: 0 when it answered, 124 when it took the connection but
# did not answer within x_server_probe_seconds, another status when nothing took it.
x_display_probe() {
  timeout "$x_server_probe_seconds" xdpyinfo -display "$1" >/dev/null 2>&1
}

# True when something takes connections on the display $1, whether it answers or not.
x_display_held() {
  local status=0
  x_display_probe "$1" || status=$?
  ((status == 0 || status == 124))
}

# True once our server on the given display answers (it writes its number when it listens, so
# an answer from another server on that number is not taken for its own); false when it ended
# without answering, took a probe without answering it, or never answered within a minute.
x_server_answers() {
  export DISPLAY=$1
  local status
  for _ in $(seq 600); do
    kill -0 "$x_server_pid" 2>/dev/null || return 1
    if [ -s "$x_server_ready" ]; then
      status=0
      x_display_probe "$DISPLAY" || status=$?
      ((status == 0)) && return 0
      ((status == 124)) && return 1
    fi
    sleep 0.1
  done
  return 1
}

stop_x_server() {
  kill "$x_server_pid" 2>/dev/null
  wait "$x_server_pid" 2>/dev/null
  rm -f "$x_server_ready"
}
