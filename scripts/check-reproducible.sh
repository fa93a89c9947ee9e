#!/usr/bin/env bash
# Builds the unsigned Release installer twice from scratch, in two different folders, and fails unless
# both exes are byte-identical. The compiler cache is bypassed, so both builds really compile.
#   scripts/check-reproducible.sh [--host HOST]     (default: the built-in update host)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
host="updates.fernquill.example"
case "${1:-}" in
  --host) host="${2:?--host needs a value}" ;;
  "") ;;
  *) echo "usage: scripts/check-reproducible.sh [--host HOST]" >&2; exit 2 ;;
esac

work="$root/build/reproducible"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work/first-tree" "$work/second tree, elsewhere"' EXIT
sums=()
for tree in "first-tree" "second tree, elsewhere"; do
  echo "== clean Release build in build/reproducible/$tree"
  CCACHE_DISABLE=1 bash "$root/scripts/release.sh" --host "$host" --build-dir "$work/$tree" \
    --out "$work/out-${tree%%[ ,]*}" | grep -E '^(sha256|size):'
  sums+=("$(sha256sum "$work/out-${tree%%[ ,]*}/FernquillSetup.exe" | cut -d' ' -f1)")
done
if cmp -s "$work/out-first-tree/FernquillSetup.exe" "$work/out-second/FernquillSetup.exe"; then
  echo "reproducible: both builds are byte-identical (sha256 ${sums[0]})"
else
  echo "NOT reproducible: ${sums[0]} vs ${sums[1]}; first differing bytes (offset, octal values):" >&2
  cmp -l "$work/out-first-tree/FernquillSetup.exe" "$work/out-second/FernquillSetup.exe" | head -n 10 >&2 || true
  exit 1
fi
