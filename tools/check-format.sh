#!/usr/bin/env bash
# Checks that the C++ lines changed since BASE (default: the commit before HEAD) follow
# .clang-format; lines nobody touched keep their layout, so history stays readable.
# Prints the reformatting it wants and exits 1 when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."
base="${1:-HEAD~1}"
if ! git rev-parse --verify --quiet "$base^{commit}" >/dev/null; then
  echo "check-format: no commit $base to compare with; nothing to check"
  exit 0
fi
diff="$(git clang-format --binary clang-format --diff --extensions cpp,h "$base" -- . || true)"
case "$diff" in
  ""|"no modified files to format"|"clang-format did not modify any files")
    echo "check-format: the C++ lines changed since $base follow .clang-format"
    ;;
  *)
    printf '%s\n' "$diff"
    echo "check-format: the lines above changed since $base do not follow .clang-format (fix with: git clang-format $base)"
    exit 1
    ;;
esac
