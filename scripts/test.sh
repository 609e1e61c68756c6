#!/usr/bin/env bash
# Installs what is missing, builds the two sanitizer configurations and the fuzzing tree and runs
# every test: the whole suite under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, then the concurrent parts under ThreadSanitizer, where a data race fails the run,
# then every fuzz target for a bounded time (SNT_FUZZ_SECONDS, 10 s each). Every stage runs
# whatever an earlier one did; the failed ones are listed at the end and make the exit code
# non-zero. The sound servers the tests need run on a runtime folder of their own and are stopped
# at the end. Extra arguments go to ctest (for example -R audio).
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/stages.sh

stage dependencies scripts/install-deps.sh test
stage format scripts/check-format.sh
stage layers scripts/check-layers.sh
jobs=${SNT_JOBS:-$(scripts/cpus.sh)}
export SNT_JOBS=$jobs
echo "test.sh: $jobs parallel jobs"
stage "build test" scripts/build.sh test
stage "build tsan" scripts/build.sh tsan
stage "build fuzz" scripts/build.sh fuzz

runtime=$(mktemp -d /tmp/snt-test-run.XXXXXX)
cleanup() {
  scripts/test-services.sh stop "$runtime" || true
  rm -rf "$runtime"
}
trap cleanup EXIT
start_services() {
  local environment
  environment=$(scripts/test-services.sh start "$runtime") || return
  eval "$environment"
}
stage "test services" start_services

source scripts/sanitizer-options.sh "$PWD"
# The software renderer starts a thread per processor it sees, not per processor it may use.
export LP_NUM_THREADS=${LP_NUM_THREADS:-$jobs}
stage_after "build test" "tests under ASan and UBSan" \
  ctest --test-dir build/test --output-on-failure --parallel "$jobs" "$@"
stage_after "build tsan" "tests under TSan" \
  ctest --test-dir build/tsan --output-on-failure --parallel "$jobs" "$@"
stage_after "build fuzz" "fuzz targets" \
  ctest --test-dir build/fuzz --output-on-failure --parallel "$jobs" "$@"
stages_summary
