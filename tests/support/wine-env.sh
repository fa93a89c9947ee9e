# Sourced by the Wine wrappers: the build tree's own Wine prefix, never ~/.wine or the real home.
# Needs FERNQUILL_BUILD_DIR.

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

: "${FERNQUILL_BUILD_DIR:?FERNQUILL_BUILD_DIR must name the build tree}"

export WINE=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$FERNQUILL_BUILD_DIR/wine/prefix"
# Wine links the prefix's user folders to $HOME when it makes the prefix, and writes caches there.
export HOME="$FERNQUILL_BUILD_DIR/wine/home"
export WINEDEBUG=-all
# ';' separates entries: a ',' would make Wine ignore the rest.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
export FERNQUILL_BUILD_DIR_WIN="$(fernquill_windows_path "$FERNQUILL_BUILD_DIR")"

fernquill_wine_user() {
  id -un
}

fernquill_prefix_ready() {
  [ -f "$WINEPREFIX/.fernquill-ready" ]
}

fernquill_create_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$HOME" "$(dirname "$WINEPREFIX")"
  "$WINE" wineboot --init >/dev/null 2>&1 || true
  "$WINESERVER" -w
  local users="$WINEPREFIX/drive_c/users/$(fernquill_wine_user)"
  local folder
  for folder in Desktop Documents Downloads Music Pictures Videos Templates; do
    if [ -L "$users/$folder" ]; then
      rm "$users/$folder"
      mkdir "$users/$folder"
    fi
  done
  # A crashing child must not block on a dialog nobody will close.
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  "$WINESERVER" -w
  if find "$users" -maxdepth 1 -type l | grep -q .; then
    echo "wine prefix: user folders still link outside the build tree" >&2
    return 1
  fi
  touch "$WINEPREFIX/.fernquill-ready"
}

# Creates the prefix on first use; parallel test processes wait for the one that makes it.
fernquill_ensure_prefix() {
  fernquill_prefix_ready && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    fernquill_prefix_ready || fernquill_create_prefix
  ) 9>"$(dirname "$WINEPREFIX")/prefix.lock"
}
