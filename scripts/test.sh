#!/usr/bin/env bash
# Installs what is missing, builds the two sanitizer configurations and the fuzzing tree and runs
# every test: the whole suite under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, then the concurrent parts under ThreadSanitizer, where a data race fails the run,
# then every fuzz target for a bounded time (SNT_FUZZ_SECONDS, 10 s each). The sound servers the
# tests need run on a runtime folder of their own and are stopped at the end, also when a test
# fails. Extra arguments go to ctest (for example -R audio).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
scripts/check-layers.sh
jobs=${SNT_JOBS:-$(scripts/cpus.sh)}
export SNT_JOBS=$jobs
echo "test.sh: $jobs parallel jobs"
scripts/build.sh test
scripts/build.sh tsan
scripts/build.sh fuzz

runtime=$(mktemp -d /tmp/snt-test-run.XXXXXX)
cleanup() {
  scripts/test-services.sh stop "$runtime" || true
  rm -rf "$runtime"
}
trap cleanup EXIT
# shellcheck disable=SC1090
source <(scripts/test-services.sh start "$runtime")

# Leaks fail the run. Allocation stacks are unwound in full (the libraries have no frame
# pointers), so that the few suppressions of library-owned memory can name the function.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
# The software renderer starts a thread per processor it sees, not per processor it may use.
export LP_NUM_THREADS=${LP_NUM_THREADS:-$jobs}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build/test --output-on-failure --parallel "$jobs" "$@"
# Qt and the sound server's client libraries are not instrumented: what they do among their own
# threads is theirs (and seen only in part), so calls from them are left alone.
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1} \
  ctest --test-dir build/tsan --output-on-failure --parallel "$jobs" "$@"
ctest --test-dir build/fuzz --output-on-failure --parallel "$jobs" "$@"
