#!/usr/bin/env bash
# Installs what is missing, builds the mingw Debug preset and runs the whole suite under Wine.
# Extra arguments go to ctest (for example: scripts/test.sh -R Manifest).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source scripts/lib.sh

bash scripts/install-deps.sh

fernquill_build_preset mingw

# Windows under test need a display: the caller's, or a private Xvfb for the run.
fernquill_with_display ctest --preset mingw "$@"
