#!/usr/bin/env bash
# Starts the simulated DSP processor by hand, so the processor panel can be tried without a real
# one. It listens on 127.0.0.1 at a free port (or --host/--port/--udp-port), pushes live levels
# ten times a second (--levels HZ) and prints the address to connect to. Ctrl+C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
exec /usr/bin/python3 tools/processor_sim.py --levels 10 "$@"
