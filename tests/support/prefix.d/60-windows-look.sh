#!/usr/bin/env bash
# Makes the setup window look and behave under bare Xvfb as it does on Windows.
# - Wine has no "Segoe UI" and falls back to a much wider face, which cuts the fixed-size labels;
#   Liberation Sans has Arial's metrics, close to what Windows shows.
# - Without a window manager, every hidden top-level window (a closed message box) makes Wine wait
#   2 s for a withdrawal that never comes; unmanaged windows skip that, and Wine draws their frame
#   and caption itself, as Windows would; its caption buttons need Wine's Marlett font, which this
#   Wine build does not look for where Debian puts it.
set -euo pipefail
[ "${1:-}" = "--shutdown" ] && exit 0
registry="$WINEPREFIX/user.reg"
if ! grep -q '^"Segoe UI"="Liberation Sans"' "$registry" 2>/dev/null; then
  "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Segoe UI' /t REG_SZ /d 'Liberation Sans' /f \
    >/dev/null 2>&1
fi
if ! grep -q '^"Managed"="N"' "$registry" 2>/dev/null; then
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi
