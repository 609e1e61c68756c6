#!/usr/bin/env bash
# The test command on a tree of its own whose stages are stand-ins that note that they ran: with
# a failing first stage and a failing build, every later stage still runs, the tests of the
# failed build are not run on what it left behind, the end lists each failure, and the command
# fails. With every stage passing it passes.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/bin"
cp "$repo/scripts/test.sh" "$repo/scripts/stages.sh" "$repo/scripts/sanitizer-options.sh" \
  "$tree/scripts/"
ran="$tree/ran.txt"

# A stand-in notes its name and arguments; it fails when that line starts with a line of
# fail.txt. The services' stand-in prints an environment.
stand_in() {
  cat >"$1" <<STUB
#!/usr/bin/env bash
line="\$(basename "\$0") \$*"
echo "\$line" >>"$ran"
while read -r failing; do
  [[ -n "\$failing" && "\$line" == "\$failing"* ]] && exit 7
done <"$tree/fail.txt"
[[ "\$line" == "test-services.sh start"* ]] && echo "export SNT_STAND_IN=1"
exit 0
STUB
  chmod +x "$1"
}
for script in install-deps.sh check-format.sh check-layers.sh build.sh test-services.sh; do
  stand_in "$tree/scripts/$script"
done
printf '#!/bin/sh\necho 2\n' >"$tree/scripts/cpus.sh"
chmod +x "$tree/scripts/cpus.sh"
stand_in "$tree/bin/ctest"

# Runs the command with the stand-ins whose lines start with the given texts failing; answers
# its exit code.
run() {
  printf '%s\n' "$@" >"$tree/fail.txt"
  : >"$ran"
  local status=0
  # As on a fresh shell: a test command around this test exports its own job count.
  env -u SNT_JOBS PATH="$tree/bin:$PATH" "$tree/scripts/test.sh" -R audio >"$tree/out.txt" 2>&1 \
    || status=$?
  return $status
}
fail() {
  echo "$1" >&2
  echo "--- output:" >&2
  cat "$tree/out.txt" >&2
  echo "--- ran:" >&2
  cat "$ran" >&2
  exit 1
}
expect_ran() {
  grep -qxF "$1" "$ran" || fail "did not run: $1"
}
expect_listed() {
  sed -n '/^== failed stages:/,$p' "$tree/out.txt" | grep -qF "$1" \
    || fail "the failures at the end do not list: $1"
}

if run "install-deps.sh" "build.sh tsan" "ctest --test-dir build/fuzz"; then
  fail "the command passed with failing stages"
fi
expect_ran "check-format.sh "
expect_ran "check-layers.sh "
expect_ran "build.sh test"
expect_ran "build.sh fuzz"
grep -q "^test-services.sh start " "$ran" || fail "the test services were not started"
expect_ran "ctest --test-dir build/test --output-on-failure --parallel 2 -R audio"
expect_ran "ctest --test-dir build/fuzz --output-on-failure --parallel 2 -R audio"
if grep -q "build/tsan" "$ran"; then
  fail "the tests of a failed build ran"
fi
grep -q "^test-services.sh stop" "$ran" || fail "the test services were not stopped"
expect_listed "dependencies (exit code 7)"
expect_listed "build tsan (exit code 7)"
expect_listed "tests under TSan (not run: build tsan failed)"
expect_listed "fuzz targets (exit code 7)"
if sed -n '/^== failed stages:/,$p' "$tree/out.txt" | grep -q "format\|ASan"; then
  fail "a stage that passed is listed as failed"
fi

run || fail "the command failed with every stage passing"
expect_ran "ctest --test-dir build/tsan --output-on-failure --parallel 2 -R audio"
grep -q "^== every stage passed" "$tree/out.txt" || fail "the end does not say every stage passed"
