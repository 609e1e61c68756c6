#!/usr/bin/env bash
# Runs a program on an X server of its own with one screen of the given size (no window manager,
# so windows sit where their program puts them), and records what the X server reports of the
# program's window with the given title (one with a window class; Qt's hidden leader window bears
# the title too): xwininfo's description of it, the last one seen before the program ended, in
# the given file. The server picks a free display number itself, so runs side by side never share
# one. Exits with the program's exit code.
# Usage: on_screen.sh WIDTHxHEIGHT TITLE REPORT PROGRAM [ARGUMENTS...]
set -uo pipefail
size=$1
title=$2
report=$3
shift 3
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$number" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; rm -f "$number" "$report.seen"' EXIT
# On a busy machine the server may take many seconds to come up: wait until it answers.
for _ in $(seq 600); do
  [ -s "$number" ] && xdpyinfo -display ":$(head -n1 "$number")" >/dev/null 2>&1 && break
  sleep 0.1
done
export DISPLAY=":$(head -n1 "$number")"
if ! xdpyinfo >/dev/null 2>&1; then
  echo "on_screen.sh: the X server did not come up" >&2
  exit 125
fi
QT_QPA_PLATFORM=xcb "$@" &
program=$!
while kill -0 "$program" 2>/dev/null; do
  window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\": (\"" | awk '{print $1; exit}')
  [ -n "$window" ] && xwininfo -id "$window" >"$report.seen" 2>/dev/null &&
    mv "$report.seen" "$report"
  sleep 0.1
done
wait "$program"
