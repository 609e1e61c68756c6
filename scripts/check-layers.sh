#!/usr/bin/env bash
# Fails, naming the file and line, when a source file includes a header of a folder that is not
# below its own. Each folder is one library; the table says which folders (or single headers)
# its files may include besides their own folder, so the libraries stay a one-way stack. A new
# source folder needs a line here before its files pass.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A below=(
  [common/]=""
  [platform/]="common/"
  [platform/alsa/]="common/ platform/"
  # One library: the ASIO host lists the JACK servers as its installed drivers.
  [platform/asio/]="common/ platform/ platform/jack/"
  [platform/jack/]="common/ platform/ platform/asio/"
  [engine/dsp/]="common/"
  [eq/]="engine/dsp/"
  [audio/]="common/"
  [audio/wasapi/]="common/ platform/ audio/"
  [audio/asio/]="common/ platform/ platform/asio/ platform/jack/ audio/"
  [audio/phone/]="common/ audio/"
  [audio/backends/]="audio/ audio/wasapi/ audio/asio/"
  [audio/aes67/]="common/ audio/"
  [engine/]="common/ engine/dsp/ audio/"
  [engine/tools/]="engine/dsp/"
  [engine/tf/generator/]="common/ engine/dsp/ audio/"
  [engine/tf/]="common/ engine/dsp/ engine/ engine/tf/generator/ audio/ audio/phone/"
  [app/store/]="common/ eq/Records.h"
  [processor/]="common/ app/store/"
  [ui/]="common/"
  [icons/tools/]=""
  [app/]="common/ platform/ engine/dsp/ engine/ engine/tf/ engine/tf/generator/ eq/ audio/
          audio/backends/ audio/phone/ audio/aes67/ app/store/ processor/"
  # Start-up reaches the bridge only by its QML names, so it needs no library above common/.
  [startup/]="common/"
  # The scripted runs drive the bridge by its QML names too, through start-up's calls.
  [selftest/]="common/ startup/"
)
# Folders whose files are not part of a library: they may include anything.
unchecked='^(tests|bench|tools)/'

failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}

while IFS= read -r file; do
  [ -f "$file" ] || continue
  [[ "$file" =~ $unchecked ]] && continue
  folder="${file%/*}/"
  [[ "$file" == */* ]] || folder=""
  [ -z "$folder" ] && continue # the program's main: the top of the stack
  if [[ ! -v below[$folder] ]]; then
    fail "$file: folder $folder has no line in scripts/check-layers.sh"
    continue
  fi
  # A table entry may run over several lines.
  read -r -d "" -a allowed <<<"${below[$folder]}" || true
  while IFS=: read -r line header; do
    [[ "$header" == */* ]] || continue # beside the file, as a generated .moc
    [ "${header%/*}/" == "$folder" ] && continue
    ok=false
    for entry in "${allowed[@]}"; do
      if [ "$entry" == "${header%/*}/" ] || [ "$entry" == "$header" ]; then
        ok=true
        break
      fi
    done
    $ok || fail "$file:$line: includes \"$header\", but $folder may include only ${below[$folder]:-its own folder}"
  done < <(grep -n -o -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" |
             sed -E 's/^([0-9]+):.*"([^"]+)"$/\1:\2/')
done < <(git ls-files -co --exclude-standard '*.cpp' '*.h')

if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) reach a layer that is not below the including folder." >&2
  exit 1
fi
