#!/usr/bin/env bash
# What the test command reads by the clone's path works from a clone in any folder: run from
# copies of those scripts in folders under /tmp, the sanitizers read the leak suppressions the
# test command names (through a path with spaces and Chinese characters, the colons and commas
# their option strings are split at, and either quote), and the X server test's part in a /tmp of
# its own finds its silent server from a clone under /tmp.
# Usage: any_folder_test.sh LEAK_PROBE (tests/scripts/LeakProbe.cpp, built with the sanitizers)
set -uo pipefail
probe=$1
repo=$(cd "$(dirname "$0")/../.." && pwd)
place=$(mktemp -d /tmp/snt-any-folder.XXXXXX)
trap 'rm -rf "$place"' EXIT
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# Copies the scripts of the clone that these checks run into a clone's tree at $1, with leak
# suppressions that name the probe's allocation.
copy_clone() {
  mkdir -p "$1/scripts" "$1/tests/scripts" "$1/tests/support"
  cp "$repo/scripts/sanitizer-options.sh" "$1/scripts/"
  cp "$repo/tests/scripts/x_server_test.sh" "$repo/tests/scripts/silent_x_server.py" \
    "$1/tests/scripts/"
  cp "$repo/tests/support/x_server.sh" "$1/tests/support/"
  echo "leak:sntLeakProbeAllocation" >"$1/tests/lsan.supp"
}

# Runs the leak probe with the sanitizer options the test command exports for the clone at $1.
probe_in() {
  (
    unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
    # shellcheck source=../../scripts/sanitizer-options.sh
    source "$1/scripts/sanitizer-options.sh" "$1"
    "$probe"
  )
}

for folder in "克隆 测试/src" "a:b,c/src" "引号\"/src" "it's/src"; do
  copy_clone "$place/$folder"
  output=$(probe_in "$place/$folder" 2>&1) ||
    fail "the leak suppressions of a clone in \"$folder\" were not read:"$'\n'"$output"
done
# The probe does leak: without the suppression that names it, it fails.
copy_clone "$place/plain"
: >"$place/plain/tests/lsan.supp"
probe_in "$place/plain" >/dev/null 2>&1 && fail "the leak probe's leak went unseen"

status=0
"$place/克隆 测试/src/tests/scripts/x_server_test.sh" silent || status=$?
((status == 0 || status == 77)) || fail "the X server test's silent servers failed from /tmp"
((failed == 0 && status == 77)) && exit 77
exit $failed
