#!/usr/bin/env bash
# Runs a test on an X server of its own (Xvfb with one 1920 x 1280 screen), so that tests running
# side by side never share keyboard focus, window stacking or the clipboard. Exits with the
# test's exit code.
# Usage: own_x_server.sh PROGRAM [ARGUMENTS...]
set -uo pipefail
# shellcheck source=x_server.sh
source "$(dirname "$0")/x_server.sh"
trap stop_x_server EXIT
start_x_server 1920x1280 || exit 125
"$@"
