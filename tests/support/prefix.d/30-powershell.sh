#!/usr/bin/env bash
# Puts the PowerShell stand-in over Wine's stub at the fixed path the installer starts. Copied on every
# run, so a rebuilt stand-in is used and one a test left renamed is back.
set -euo pipefail
[ "${1:-}" = "--shutdown" ] && exit 0

standin="$FERNQUILL_BUILD_DIR/equipment/powershell.exe"
if [ ! -f "$standin" ]; then
  echo "30-powershell: $standin is missing; build the target fernquill_powershell_standin" >&2
  exit 1
fi

system32="$WINEPREFIX/drive_c/windows/system32"
target_dir="$system32/WindowsPowerShell/v1.0"
# Keep whatever case Wine gave the folders, so Windows sees one folder, not two.
existing="$(find "$system32" -maxdepth 2 -ipath "$system32/windowspowershell/v1.0" -type d 2>/dev/null | head -n1)"
[ -n "$existing" ] && target_dir="$existing"
mkdir -p "$target_dir"
find "$target_dir" -maxdepth 1 -iname 'powershell.exe*' ! -name 'powershell.exe' -delete
cp -f "$standin" "$target_dir/powershell.exe"
