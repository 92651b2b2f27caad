#!/usr/bin/env bash
# Fails with one line naming every tracked file over 1 MiB that scripts/large-files.allow does not list.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "size guard: not a git checkout, skipped"
  exit 0
fi
limit=$((1024 * 1024))
allowed=$(sed -e 's/[[:space:]]*#.*$//' -e '/^[[:space:]]*$/d' scripts/large-files.allow)
big=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] || continue
  size=$(stat -c %s -- "$f")
  if [ "$size" -gt "$limit" ] && ! grep -qxF -- "$f" <<<"$allowed"; then
    big+=("$f ($size bytes)")
  fi
done < <(git ls-files -z)
if [ ${#big[@]} -gt 0 ]; then
  printf -v list '%s, ' "${big[@]}"
  echo "size guard: tracked files over 1 MiB not listed in scripts/large-files.allow: ${list%, }" >&2
  exit 1
fi
