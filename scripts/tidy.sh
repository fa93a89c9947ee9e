#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every source file of src/ in a build tree's compile
# database, two files at a time. Prints the findings; exits 1 when there is any.
# Usage: scripts/tidy.sh [build dir]   (default: build/clang, made by the clang preset)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/clang}" && pwd)"
database="$build/compile_commands.json"
[ -f "$database" ] || { echo "tidy: no $database (configure the clang preset first)" >&2; exit 2; }
tidy="$(command -v clang-tidy-14 || command -v clang-tidy)" || { echo "tidy: clang-tidy is not installed" >&2; exit 2; }

# One entry per file: the host file of each installer variant is compiled more than once.
mapfile -t files < <(python3 - "$database" "$root/src/" <<'PY'
import json, sys
entries = json.load(open(sys.argv[1]))
print("\n".join(sorted({e["file"] for e in entries if e["file"].startswith(sys.argv[2])})))
PY
)
[ ${#files[@]} -gt 0 ] || { echo "tidy: no file of src/ in $database" >&2; exit 2; }

log="$build/clang-tidy.log"
status=0
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P 2 "$tidy" -p "$build" --quiet >"$log" 2>&1 || status=$?
# clang's own count of the diagnostics it saw in system headers is not a finding.
grep -Ev '^[0-9]+ (warning|error)s? (and [0-9]+ (warning|error)s? )?generated\.$' "$log" || true
findings=$(grep -cE '^/.*: (warning|error): .*\[[a-z0-9.,-]+\]$' "$log" || true)
echo "clang-tidy: ${#files[@]} files of src/, $findings findings"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  exit 1
fi
