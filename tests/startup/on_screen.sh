#!/usr/bin/env bash
# Runs a program on an X server of its own with one screen of the given size (no window manager,
# so windows sit where their program puts them), and records what the X server reports of the
# program's window with the given title (one with a window class; Qt's hidden leader window bears
# the title too): xwininfo's description of it, the last one seen before the program ended, in
# the given file. Exits with the program's exit code.
# Usage: on_screen.sh WIDTHxHEIGHT TITLE REPORT PROGRAM [ARGUMENTS...]
set -uo pipefail
size=$1
title=$2
report=$3
shift 3
# shellcheck source=../support/x_server.sh
source "$(dirname "$0")/../support/x_server.sh"
# Ended early (by a signal), the script stops the program as well as its X server.
trap 'stop_x_server; kill $(jobs -p) 2>/dev/null; rm -f "$report.seen"' EXIT
start_x_server "$size" || exit 125
QT_QPA_PLATFORM=xcb "$@" &
program=$!
# The whole tree is searched only until the window is found, and again should it go: each search
# forks a pipeline, and ten a second of them took half a processor from the program it watches.
window=
while kill -0 "$program" 2>/dev/null; do
  [ -n "$window" ] ||
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\": (\"" | awk '{print $1; exit}')
  if [ -n "$window" ]; then
    if xwininfo -id "$window" >"$report.seen" 2>/dev/null; then
      mv "$report.seen" "$report"
    else
      window=
    fi
  fi
  sleep 0.1
done
wait "$program"
