#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it (.clang-format).
#   tools/check-format.sh          list the files that differ, exit 1 if any
#   tools/check-format.sh --fix    rewrite them in place
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=${CLANG_FORMAT:-}
if [ -z "$formatter" ]; then
  for candidate in clang-format-14 clang-format; do
    command -v "$candidate" >/dev/null && { formatter=$candidate; break; }
  done
fi
[ -n "$formatter" ] || { echo "clang-format is not installed" >&2; exit 2; }

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  printf '%s\0' "${files[@]}" | xargs -0 "$formatter" -i
  exit 0
fi

# --dry-run names every place that would change; a file is listed once.
mapfile -t differ < <(printf '%s\0' "${files[@]}" |
  xargs -0 -n 40 -P 2 "$formatter" --dry-run 2>&1 |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ ${#differ[@]} -gt 0 ]; then
  echo "Not formatted (run tools/check-format.sh --fix):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files clean"
