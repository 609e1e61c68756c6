# Sourced by the scripts that give a program an X server of its own.
# start_x_server WIDTHxHEIGHT starts Xvfb with one screen of that size on a display number the
# server picks itself (so servers started side by side never collide), waits until it answers
# (a busy machine may take many seconds) and exports DISPLAY; false when it never came up.
# stop_x_server stops it; callers run it from their EXIT trap.
start_x_server() {
  x_server_number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$x_server_number" 2>/dev/null &
  x_server_pid=$!
  for _ in $(seq 600); do
    [ -s "$x_server_number" ] && xdpyinfo -display ":$(head -n1 "$x_server_number")" >/dev/null 2>&1 &&
      break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$x_server_number")"
  xdpyinfo >/dev/null 2>&1 || { echo "$0: the X server did not come up" >&2; return 1; }
}

stop_x_server() {
  kill "$x_server_pid" 2>/dev/null
  wait "$x_server_pid" 2>/dev/null
  rm -f "$x_server_number"
}
