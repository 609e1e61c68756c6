# Runs the stages of a long command one after the other, whatever an earlier stage did, and
# lists every failure at the end: one failing stage must not hide what the others would say.
# Sourced: `stage NAME COMMAND...` runs a stage; `stage_after BUILD NAME COMMAND...` runs it
# only when the stage named BUILD passed (tests are not run on binaries a failed build left
# behind; such a stage counts as failed); `stages_summary` prints the failures and answers 1
# when there were any.

stage_failures=()
stage_passed=()

stage() {
  local name=$1
  shift
  echo "== stage: $name"
  local status=0
  "$@" || status=$?
  if ((status == 0)); then
    stage_passed+=("$name")
  else
    echo "== stage failed: $name (exit code $status)"
    stage_failures+=("$name (exit code $status)")
  fi
}

stage_after() {
  local needed=$1 name=$2
  shift 2
  local passed
  for passed in "${stage_passed[@]}"; do
    if [[ $passed == "$needed" ]]; then
      stage "$name" "$@"
      return
    fi
  done
  echo "== stage not run: $name ($needed failed)"
  stage_failures+=("$name (not run: $needed failed)")
}

stages_summary() {
  if ((${#stage_failures[@]} == 0)); then
    echo "== every stage passed"
    return 0
  fi
  echo "== failed stages:"
  local failure
  for failure in "${stage_failures[@]}"; do
    echo "   $failure"
  done
  return 1
}
