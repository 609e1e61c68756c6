#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and starts it. Arguments go to the
# program (see "The command line" in the README).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
scripts/build.sh release
exec build/release/sonetra "$@"
