#!/usr/bin/env bash
# Runs one fuzz target for a bounded time:
#   run_fuzz_target.sh TARGET CORPUS SECONDS
# First every input of the corpus folder (its seeds, and the inputs that once found a fault),
# then inputs mutated from them until SECONDS have passed. Fails on a crash or sanitizer report,
# on an input that runs longer than 10 s (a hang) and on memory beyond 2 GiB (one allocation
# beyond 512 MiB); the input that did it is kept under the build's artifacts folder. New inputs
# go to a scratch folder, never into the corpus in the repository.
set -euo pipefail
target=$1
corpus=$2
seconds=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/snt-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=$(dirname "$target")/artifacts
mkdir -p "$artifacts"
# Allocation stacks are unwound the fast way here: the full unwind the test command asks for
# (for the leak suppressions of library code) makes fuzzing ten times slower.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=1"
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
  -print_final_stats=1 -artifact_prefix="$artifacts/$(basename "$target")-" "$scratch" "$corpus"
