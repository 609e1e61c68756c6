#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file does not match .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r file; do
  [ -f "$file" ] || continue
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done < <(git ls-files -co --exclude-standard '*.cpp' '*.h')
if [ ${#bad[@]} -gt 0 ]; then
  echo "These files do not match .clang-format (run: clang-format -i FILE):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
