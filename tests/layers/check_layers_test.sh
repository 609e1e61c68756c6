#!/usr/bin/env bash
# The layer check on a tree of its own: includes in quotes and in angle brackets that reach a
# layer above are named with file and line and fail the check; system and Qt headers in angle
# brackets and includes of the layers below pass.
set -euo pipefail
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/eq" "$tree/processor" "$tree/app/store"
cp "$script" "$tree/scripts/"
git -C "$tree" init -q

printf '%s\n' '#include "eq/Records.h"' '#include <QString>' '#include <alsa/asoundlib.h>' \
  '#include <engine/dsp/Curve.h>' '#include "engine/dsp/Complex.h"' >"$tree/eq/Good.cpp"
printf '%s\n' '#include <files/StoreFile.h>' '#include "common/Log.h"' >"$tree/processor/Good.cpp"
printf '%s\n' '#include "eq/Records.h"' '#include <files/DataFolder.h>' >"$tree/app/store/Good.cpp"
if ! "$tree/scripts/check-layers.sh" 2>"$tree/clean.txt"; then
  echo "a tree of allowed includes failed the check:" >&2
  cat "$tree/clean.txt" >&2
  exit 1
fi

printf '%s\n' '#include <QString>' '#include <app/QmlBridge.h>' >"$tree/eq/Wrong.h"
printf '%s\n' '#include "processor/ProcessorClient.h"' '  #  include "app/store/CurvePack.h"' \
  >"$tree/processor/Wrong.cpp"
printf '%s\n' '#include <eq/SchemeEngine.h>' >"$tree/app/store/Wrong.cpp"
if "$tree/scripts/check-layers.sh" 2>"$tree/wrong.txt"; then
  echo "wrong-layer includes passed the check" >&2
  exit 1
fi
expected='app/store/Wrong.cpp:1: includes <eq/SchemeEngine.h>, but app/store/ may include only common/ files/ eq/Records.h
eq/Wrong.h:2: includes <app/QmlBridge.h>, but eq/ may include only engine/dsp/
processor/Wrong.cpp:2: includes "app/store/CurvePack.h", but processor/ may include only common/ files/
3 include(s) reach a layer that is not below the including folder.'
found=$(sort "$tree/wrong.txt")
expected=$(sort <<<"$expected")
if [ "$found" != "$expected" ]; then
  printf 'the check said:\n%s\nexpected:\n%s\n' "$found" "$expected" >&2
  exit 1
fi
