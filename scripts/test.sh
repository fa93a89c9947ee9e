#!/usr/bin/env bash
# Installs what is missing, then for each compiler (mingw-w64 gcc, then clang) builds its Debug preset,
# where warnings are errors, in its own build tree and runs the whole suite under Wine; clang-tidy checks
# src/ on the clang build's compile database; a whole run (no arguments) also checks that two clean Release
# builds are byte-identical. Every step runs; the exit status is 1 when any failed.
# Extra arguments go to both ctest runs (for example: scripts/test.sh -R Manifest).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source scripts/lib.sh

bash scripts/install-deps.sh

summary=()
failed=0

# run_suite <preset>: configure, build and test one build tree; one summary line either way.
run_suite() {
  local preset=$1 log="$root/build/$1-ctest.log" started=$SECONDS
  mkdir -p "$root/build"
  if ! fernquill_build_preset "$preset"; then
    summary+=("$preset: build failed ($((SECONDS - started)) s)")
    failed=1
    return
  fi
  # Windows under test need a display: the caller's, or a private Xvfb for the run.
  local status=0
  fernquill_with_display ctest --preset "$preset" "${@:2}" 2>&1 | tee "$log" || status=$?
  local result
  # Output of a program that outlived its test can share the summary's line, and a test's raw bytes
  # would make grep call the whole log binary.
  result=$(grep -aoE '[0-9]+% tests passed.*' "$log" | tail -n 1 || true)
  if [ -z "$result" ]; then
    result="no test result (ctest exit status $status; its last line: $(tail -n 1 "$log" | cut -c1-300))"
  fi
  summary+=("$preset: $result ($((SECONDS - started)) s with the build)")
  [ "$status" -eq 0 ] || failed=1
}

run_suite mingw "$@"
run_suite clang "$@"

started=$SECONDS
if [ -f build/clang/compile_commands.json ] && bash scripts/tidy.sh build/clang; then
  summary+=("clang-tidy: no finding ($((SECONDS - started)) s)")
else
  summary+=("clang-tidy: failed ($((SECONDS - started)) s)")
  failed=1
fi

# The whole run also builds the unsigned Release installer twice and compares the bytes.
if [ $# -eq 0 ]; then
  started=$SECONDS
  if bash scripts/check-reproducible.sh; then
    summary+=("reproducible build: identical ($((SECONDS - started)) s)")
  else
    summary+=("reproducible build: failed ($((SECONDS - started)) s)")
    failed=1
  fi
fi

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
