#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer configuration and runs every test. The sound
# servers the tests need run on a runtime folder of their own and are stopped at the end, also
# when a test fails. Extra arguments go to ctest (for example -R audio).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
scripts/check-layers.sh
scripts/build.sh test

runtime=$(mktemp -d /tmp/snt-test-run.XXXXXX)
cleanup() {
  scripts/test-services.sh stop "$runtime" || true
  rm -rf "$runtime"
}
trap cleanup EXIT
# shellcheck disable=SC1090
source <(scripts/test-services.sh start "$runtime")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
xvfb-run -a -s "-screen 0 1920x1280x24" \
  ctest --test-dir build/test --output-on-failure --parallel "${SNT_JOBS:-$(nproc)}" "$@"
