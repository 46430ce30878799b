#!/usr/bin/env bash
# Puts each deliberate fault of tests/mutants.txt into its source file in turn, rebuilds, runs the
# tests the line names and prints "caught" with the tests that failed, or "SURVIVED". The file is
# restored after each fault, also when the run is interrupted. Exits 1 when a fault survived, did
# not apply or did not build. Usage: tests/run_mutants.sh BUILD_DIR [FILE_REGEX] (only the faults
# in the source files that match).
set -u
build=$(cd "${1:?usage: tests/run_mutants.sh BUILD_DIR [FILE_REGEX]}" && pwd) || exit 2
only=${2:-.}
source=$(cd "$(dirname "$0")/.." && pwd)
backup=$(mktemp)
mutated=""

restore() {
    if [ -n "$mutated" ]; then
        cp "$backup" "$source/$mutated"
        mutated=""
    fi
}
trap 'restore; rm -f "$backup"' EXIT
trap 'exit 130' INT TERM HUP

rebuild() { cmake --build "$build" -j2 --target kaopt_tests kaopt KAOptExtension >"$build/mutant-build.log" 2>&1; }

status=0
while IFS=$'\t' read -r -u 3 file text fault tests; do
    case "$file" in '' | '#'*) continue ;; esac
    [[ $file =~ $only ]] || continue
    cp "$source/$file" "$backup"
    mutated=$file
    if ! python3 - "$source/$file" "$text" "$fault" <<'EOF'; then
import sys
path, text, fault = sys.argv[1:]
content = open(path).read()
if content.count(text) != 1:
    sys.exit(1)
open(path, "w").write(content.replace(text, fault))
EOF
        echo "NOT APPLIED $file: the text is not there exactly once: $text"
        restore
        status=1
        continue
    fi
    if ! rebuild; then
        echo "BUILD FAILED $file: $fault (see $build/mutant-build.log)"
        restore
        status=1
        continue
    fi
    failed=$(cd "$build" && ctest -j2 --timeout 300 -R "$tests" 2>&1 |
        awk '/tests FAILED:/ { listing = 1; next } listing && / - / { sub(/^[^-]*- /, ""); sub(/ \([^)]*\)$/, ""); print }' |
        paste -sd' ' -)
    restore
    if [ -n "$failed" ]; then
        echo "caught    $file: $failed"
    else
        echo "SURVIVED  $file: $fault"
        status=1
    fi
done 3<"$source/tests/mutants.txt"
# Leave the build as the sources are.
rebuild || status=1
exit $status
