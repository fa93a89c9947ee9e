#!/usr/bin/env bash
# Makes the test Wine prefix ready (created once, then every step of prefix.d/ on each test run),
# or with --shutdown stops its wineserver so that nothing outlives the test run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/wine-env.sh"

if [ "${1:-}" = "--shutdown" ]; then
  for step in "$here"/prefix.d/*.sh; do
    [ -e "$step" ] || continue
    bash "$step" --shutdown
  done
  "$WINESERVER" -k 2>/dev/null || true
  exit 0
fi

fernquill_ensure_prefix
for step in "$here"/prefix.d/*.sh; do
  [ -e "$step" ] || continue
  echo "prefix step: $(basename "$step")"
  bash "$step"
done
echo "prefix ready: $WINEPREFIX"
