#!/usr/bin/env bash
# Clears the Linux immutable attribute that a fault test which died left below its no-write folder
# (<test folder>/no-write in the temporary folder): otherwise neither could be deleted any more.
set -euo pipefail
[ "${1:-}" = "--shutdown" ] && exit 0

for folder in "$WINEPREFIX"/drive_c/users/*/Temp/fq-*/no-write; do
  [ -d "$folder" ] && chattr -R -i "$folder" 2>/dev/null || true
done
