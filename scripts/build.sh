#!/usr/bin/env bash
# Configures and builds one configuration: "release" (the program and the benchmarks, optimised),
# "test" (everything with AddressSanitizer and UndefinedBehaviorSanitizer, for the tests),
# "tsan" (only the concurrent parts and their tests, with ThreadSanitizer) or "fuzz" (only the
# parsers of outside bytes and their fuzz targets, built by clang with libFuzzer).
# SNT_JOBS caps the parallel compile jobs (default: every processor the CPU quota allows).
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-release}
case "$config" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release -DSNT_SANITIZE=OFF -DSNT_BUILD_TESTS=OFF) ;;
  test)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNT_SANITIZE=ON -DSNT_BUILD_TESTS=ON -DSNT_BUILD_BENCH=OFF) ;;
  tsan)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNT_TSAN=ON) ;;
  fuzz)    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNT_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14
                 -DSNT_FUZZ_SECONDS="${SNT_FUZZ_SECONDS:-10}") ;;
  *) echo "usage: $0 [release|test|tsan|fuzz]" >&2; exit 2 ;;
esac
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/sonetra-ccache}
# Configuring again is quick and picks up folders that gained a CMakeLists.txt.
cmake -S . -B "build/$config" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$config" --parallel "${SNT_JOBS:-$(scripts/cpus.sh)}"
