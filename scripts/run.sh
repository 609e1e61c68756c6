#!/usr/bin/env bash
# Installs what is missing, builds the optimised program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh release
if [ -x build/release/sonetra ]; then
  exec build/release/sonetra "$@"
fi
echo "Built. The program window is not part of this build yet."
