#!/usr/bin/env bash
# Installs what is missing, builds the mingw Debug preset and runs the whole suite under Wine.
# Extra arguments go to ctest (for example: scripts/test.sh -R Manifest).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"
[ $# -gt 0 ] || bash scripts/check-reproducible.sh  # the whole run also builds the Release installer twice

# Windows under test need a display: use the caller's, or a private Xvfb for the run.
if [ -n "${DISPLAY:-}" ]; then
  ctest --preset mingw "$@"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset mingw "$@"
fi
