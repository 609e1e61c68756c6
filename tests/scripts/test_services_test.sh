#!/usr/bin/env bash
# The test command's services start from any folder, not only from the clone's root: started
# from / they bring up a JACK server that answers, and stop it again from there.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
runtime=$(mktemp -d /tmp/snt-services-test.XXXXXX)
trap '"$repo/scripts/test-services.sh" stop "$runtime"; rm -rf "$runtime"' EXIT

if ! environment=$(cd / && "$repo/scripts/test-services.sh" start "$runtime"); then
  echo "FAIL: the services did not start from /" >&2
  exit 1
fi
eval "$environment"
if ! jack_lsp -s "${SNT_TEST_JACK_SERVER:-}" >/dev/null 2>&1; then
  echo "FAIL: no JACK server answers under \"${SNT_TEST_JACK_SERVER:-}\"" >&2
  exit 1
fi
(cd / && "$repo/scripts/test-services.sh" stop "$runtime")
if jack_lsp -s "$SNT_TEST_JACK_SERVER" >/dev/null 2>&1; then
  echo "FAIL: the JACK server still answers after stop" >&2
  exit 1
fi
